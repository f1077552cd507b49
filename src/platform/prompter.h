#pragma once

#include "platform/corvidexport.h"

#include <QMessageBox>
#include <QString>

class QPrinter;
class QWidget;

// Every modal box and dialog the shell shows goes through a prompter, so that tests can answer
// them without a person. The default prompter shows the real boxes.
class CORVID_EXPORT Prompter
{
public:
    virtual ~Prompter() = default;

    // The prompter in use; never null.
    static Prompter &current();
    // Replaces the prompter in use (null restores the default); the caller keeps ownership.
    static void setCurrent(Prompter *prompter);

    virtual void information(QWidget *parent, const QString &title, const QString &text);
    virtual void warning(QWidget *parent, const QString &title, const QString &text);
    virtual void critical(QWidget *parent, const QString &title, const QString &text);
    virtual QMessageBox::StandardButton question(QWidget *parent, const QString &title,
                                                 const QString &text,
                                                 QMessageBox::StandardButtons buttons,
                                                 QMessageBox::StandardButton defaultButton);
    virtual void about(QWidget *parent, const QString &title, const QString &text);

    // File dialogs: an empty result means the user cancelled.
    virtual QString openFileName(QWidget *parent, const QString &caption, const QString &dir,
                                 const QString &filter);
    virtual QStringList openFileNames(QWidget *parent, const QString &caption, const QString &dir,
                                      const QString &filter);
    // Without confirmOverwrite the dialog accepts an existing file without asking.
    virtual QString saveFileName(QWidget *parent, const QString &caption, const QString &dir,
                                 const QString &filter, bool confirmOverwrite);
    virtual QString existingDirectory(QWidget *parent, const QString &caption, const QString &dir);
    // Shows the print dialog for printer; true when the user chose to print.
    virtual bool printSetup(QWidget *parent, QPrinter *printer);
};
