#include "gui/Forms.h"
#include "GuiTestSupport.h"
#include "platform/Exceptions.h"

#include <gtest/gtest.h>

#include <QIcon>
#include <QMessageBox>
#include <QTimer>

#include <stdexcept>
#include <thread>
#include <vector>

namespace {

template <typename TError> std::exception_ptr Raised(TError Error) {
    return std::make_exception_ptr(Error);
}

TEST(ApplicationTitle, IsTheProgramNameCapitalisedWithoutDirectoryAndExtensions) {
    EXPECT_EQ(ApplicationTitle("/usr/bin/ZELTextReceiver"), "Zeltextreceiver");
    EXPECT_EQ(ApplicationTitle("build/bin/zelTEXT.Receiver.exe"), "zeltext");
    EXPECT_EQ(ApplicationTitle("/opt/a.b/.hidden"), "");
}

TEST(ErrorBoxText, AddsAFullStopAfterLettersAndDigitsOnly) {
    EXPECT_EQ(ErrorBoxText(Raised(Exception("No sound input"))), "No sound input.");
    EXPECT_EQ(ErrorBoxText(Raised(Exception("Error 42"))), "Error 42.");
    EXPECT_EQ(ErrorBoxText(Raised(Exception("Done."))), "Done.");
    EXPECT_EQ(ErrorBoxText(Raised(Exception("What?"))), "What?.");
    EXPECT_EQ(ErrorBoxText(Raised(Exception("Oops!"))), "Oops!");
    EXPECT_EQ(ErrorBoxText(Raised(Exception("(see above)"))), "(see above)");
    EXPECT_EQ(ErrorBoxText(Raised(Exception(""))), "");
    EXPECT_EQ(ErrorBoxText(Raised(std::runtime_error("plain"))), "plain.");
    EXPECT_EQ(ErrorBoxText(Raised(42)), "Unknown error.");
}

// An object whose event handling fails.
class TFailingObject : public QObject {
protected:
    bool event(QEvent *) override { throw EInvalidOperation("handling failed"); }
};

TEST(Application, PassesAnErrorThatEscapesAnEventToTheExceptionHandler) {
    std::vector<std::string> Shown;
    const auto Previous = platform::SetExceptionHandler([&](TObject *, std::exception_ptr Error) {
        Shown.push_back(ErrorBoxText(Error).toStdString());
    });
    TFailingObject Failing;
    QCoreApplication::postEvent(&Failing, new QEvent(QEvent::User));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !Shown.empty(); }, EventTimeoutMs));
    EXPECT_EQ(Shown, std::vector<std::string>{"handling failed."});
    platform::SetExceptionHandler(Previous);
}

// What the next error box showed, once it is accepted.
struct TShownBox {
    QString Title, Text;
    QMessageBox::Icon Icon = QMessageBox::NoIcon;
    bool Shown = false;

    void AcceptWhenShown() {
        QTimer::singleShot(0, [this] {
            auto *Box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!Box)
                return AcceptWhenShown();
            Title = Box->windowTitle();
            Text = Box->text();
            Icon = Box->icon();
            Shown = true;
            Box->accept();
        });
    }
};

TEST(Application, ShowsErrorsInAnErrorBoxTitledWithTheApplicationTitle) {
    auto *Application = static_cast<TApplication *>(QCoreApplication::instance());
    TShownBox Box;
    Box.AcceptWhenShown();
    platform::HandleException(nullptr, Raised(Exception("No sound input")));
    EXPECT_TRUE(Box.Shown);
    EXPECT_EQ(Box.Title, Application->Title());
    EXPECT_EQ(Box.Text, "No sound input.");
    EXPECT_EQ(Box.Icon, QMessageBox::Critical);
    EXPECT_EQ(Application->Title(), ApplicationTitle(QCoreApplication::applicationFilePath()));
}

TEST(Application, ShowsAnErrorFromAnotherThreadOnItsOwnThread) {
    TShownBox Box;
    Box.AcceptWhenShown();
    std::thread Worker(
        [] { platform::HandleException(nullptr, Raised(Exception("Device went away"))); });
    Worker.join();
    EXPECT_TRUE(QTest::qWaitFor([&] { return Box.Shown; }, 10000));
    EXPECT_EQ(Box.Text, "Device went away.");
}

} // namespace

namespace {

TEST(Application, HasTheProgramsIcon) {
    const QIcon Icon = QApplication::windowIcon();
    ASSERT_FALSE(Icon.isNull());
    EXPECT_FALSE(Icon.pixmap(32, 32).isNull());
}

} // namespace
