#include "gui/Forms.h"

#include <QFileInfo>
#include <QIcon>
#include <QMessageBox>
#include <QThread>

namespace {

// Drawn at the sizes desktops ask for. Small ones only: the X11 window icon must fit
// one request.
QIcon ProgramIcon() {
    QIcon Icon;
    for (int Size : {16, 32, 48, 64, 128})
        Icon.addFile(QStringLiteral(":/icons/ZELTextReceiver-%1.png").arg(Size));
    return Icon;
}

} // namespace

TApplication::TApplication(int &Argc, char **Argv) : QApplication(Argc, Argv), TComponent(nullptr) {
    Q_INIT_RESOURCE(ZELTextReceiver);
    setWindowIcon(ProgramIcon());
    // A steady caret: a blinking one would wake the program twice a second, all day,
    // to repaint the log while the window has the focus.
    setCursorFlashTime(0);
    FPreviousHandler = platform::SetExceptionHandler(
        [this](TObject *, std::exception_ptr Error) { ShowException(Error); });
}

TApplication::~TApplication() {
    // The windows go while the application is whole: freeing the receiver still
    // delivers events.
    while (ComponentCount() > 0)
        Components(ComponentCount() - 1)->Free();
    platform::SetExceptionHandler(FPreviousHandler);
}

QString TApplication::Title() const {
    return ApplicationTitle(applicationFilePath());
}

int TApplication::Run() {
    if (FTerminated)
        return 0;
    if (FMainForm)
        FMainForm->show();
    return exec();
}

void TApplication::Terminate() {
    FTerminated = true;
    closeAllWindows();
    quit();
}

bool TApplication::notify(QObject *Receiver, QEvent *Event) {
    try {
        return QApplication::notify(Receiver, Event);
    } catch (...) {
        platform::HandleException(this);
        return false;
    }
}

void TApplication::ShowException(std::exception_ptr Error) {
    // An error can escape on a device's callback thread; boxes live on this one.
    if (QThread::currentThread() != thread()) {
        QMetaObject::invokeMethod(
            this, [this, Error] { ShowException(Error); }, Qt::QueuedConnection);
        return;
    }
    QWidget *Parent = FMainForm && FMainForm->isVisible() ? FMainForm.data() : nullptr;
    QMessageBox::critical(Parent, Title(), ErrorBoxText(Error));
}

QString ApplicationTitle(const QString &ProgramFile) {
    const QString Name = QFileInfo(ProgramFile).fileName().section(QLatin1Char('.'), 0, 0);
    return Name.left(1) + Name.mid(1).toLower();
}

QString ErrorBoxText(std::exception_ptr Error) {
    QString Text;
    try {
        if (Error)
            std::rethrow_exception(Error);
    } catch (const std::exception &E) {
        Text = QString::fromUtf8(E.what());
    } catch (...) {
        Text = QStringLiteral("Unknown error");
    }
    if (!Text.isEmpty() && Text.back() > QLatin1Char('.'))
        Text += QLatin1Char('.');
    return Text;
}
