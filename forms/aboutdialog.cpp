#include "forms/aboutdialog.h"
#include "ui_aboutdialog.h"

#include <QDebug>
#include <QFile>
#include <QMovie>

namespace {
const QString logoMoviePath = QStringLiteral(":/images/images/logo_g.gif");
}

AboutDialog::AboutDialog(QWidget *parent, QString version)
    : QDialog(parent), ui(new Ui::AboutDialog)
{
    ui->setupUi(this);
    connect(ui->pb_OK, SIGNAL(clicked()), this, SLOT(hide()));
    ui->labelVersion->setText(version);

    // Without the compiled-in animation the dialog still works, only without
    // its logo.
    if (QFile::exists(logoMoviePath)) {
        // The label does not take ownership of the movie; the dialog does.
        QMovie *movie = new QMovie(logoMoviePath, QByteArray(), this);
        ui->label->setMovie(movie);
        movie->start();
    } else {
        qDebug().nospace() << "*** Error - Resource path not found : " << logoMoviePath.toLatin1();
    }
}

AboutDialog::~AboutDialog()
{
    delete ui;
}
