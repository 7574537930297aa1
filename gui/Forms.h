#pragma once

#include "platform/Component.h"
#include "platform/MessageServices.h"

#include <QApplication>
#include <QPointer>
#include <QString>

#include <exception>
#include <utility>

// The application object: it owns the windows, shows every error that escapes the
// handling of an event in an error box and carries on.
class TApplication : public QApplication, public TComponent {
    Q_OBJECT

public:
    TApplication(int &Argc, char **Argv);
    ~TApplication() override;

    // The program file's name without directory and extensions, capitalised:
    // "Zeltextreceiver". The caption of the error boxes.
    QString Title() const;

    // Creates a window owned by the application; the first becomes the main window.
    template <typename TForm, typename... TArgs> TForm *CreateForm(TArgs &&...Args) {
        auto *Form = new TForm(this, std::forward<TArgs>(Args)...);
        if (!FMainForm)
            FMainForm = Form;
        return Form;
    }

    // Shows the main window and handles events until it is closed; after Terminate,
    // returns at once.
    int Run();
    // Ends the program the way closing its windows does, at any moment: an error box
    // that is up closes too, and a main window not shown yet is never shown.
    void Terminate();

    bool notify(QObject *Receiver, QEvent *Event) override;
    void ShowException(std::exception_ptr Error);

private:
    QPointer<QWidget> FMainForm;
    bool FTerminated = false;
    platform::TExceptionHandler FPreviousHandler;
};

QString ApplicationTitle(const QString &ProgramFile);
// The error's message as the error box shows it: a '.' is added after a letter, a
// digit or anything else that sorts after '.'.
QString ErrorBoxText(std::exception_ptr Error);
