#pragma once

#include <QDialog>
#include <QString>

namespace Ui {
class AboutDialog;
}

// The "Über" dialog: program version, author, web address, copyright years
// and the animated logo. Created once by the main window and only shown and
// hidden after that; the logo keeps running while the dialog is hidden.
class AboutDialog : public QDialog
{
    Q_OBJECT

public:
    AboutDialog(QWidget *parent, QString version);
    ~AboutDialog() override;

private:
    Ui::AboutDialog *ui;
};
