#include "platform/prompter.h"

#include <QFileDialog>
#include <QPrintDialog>

namespace {
Prompter g_defaultPrompter;
Prompter *g_prompter = nullptr;
} // namespace

Prompter &Prompter::current()
{
    return g_prompter ? *g_prompter : g_defaultPrompter;
}

void Prompter::setCurrent(Prompter *prompter)
{
    g_prompter = prompter;
}

void Prompter::information(QWidget *parent, const QString &title, const QString &text)
{
    QMessageBox::information(parent, title, text, QMessageBox::Ok);
}

void Prompter::warning(QWidget *parent, const QString &title, const QString &text)
{
    QMessageBox::warning(parent, title, text, QMessageBox::Ok);
}

void Prompter::critical(QWidget *parent, const QString &title, const QString &text)
{
    QMessageBox::critical(parent, title, text, QMessageBox::Ok);
}

QMessageBox::StandardButton Prompter::question(QWidget *parent, const QString &title,
                                               const QString &text,
                                               QMessageBox::StandardButtons buttons,
                                               QMessageBox::StandardButton defaultButton)
{
    return QMessageBox::question(parent, title, text, buttons, defaultButton);
}

void Prompter::about(QWidget *parent, const QString &title, const QString &text)
{
    QMessageBox::about(parent, title, text);
}

QString Prompter::openFileName(QWidget *parent, const QString &caption, const QString &dir,
                               const QString &filter)
{
    return QFileDialog::getOpenFileName(parent, caption, dir, filter);
}

QStringList Prompter::openFileNames(QWidget *parent, const QString &caption, const QString &dir,
                                    const QString &filter)
{
    return QFileDialog::getOpenFileNames(parent, caption, dir, filter);
}

QString Prompter::saveFileName(QWidget *parent, const QString &caption, const QString &dir,
                               const QString &filter, bool confirmOverwrite)
{
    const QFileDialog::Options options
        = confirmOverwrite ? QFileDialog::Options() : QFileDialog::DontConfirmOverwrite;
    return QFileDialog::getSaveFileName(parent, caption, dir, filter, nullptr, options);
}

QString Prompter::existingDirectory(QWidget *parent, const QString &caption, const QString &dir)
{
    return QFileDialog::getExistingDirectory(parent, caption, dir);
}

bool Prompter::printSetup(QWidget *parent, QPrinter *printer)
{
    QPrintDialog dialog(printer, parent);
    return dialog.exec() == QDialog::Accepted;
}
