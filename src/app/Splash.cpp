#include "app/Splash.h"

#include <QApplication>
#include <QPainter>

#include "ui_SplashForm.h"

TSplashForm::TSplashForm(QWidget *parent)
    : QWidget(parent, Qt::SplashScreen | Qt::FramelessWindowHint), ui(new Ui::TSplashForm)
{
    ui->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
    QPixmap cd(QStringLiteral(":/pictures/Cd.bmp"));
    if (!cd.isNull()) {
        cd.setMask(cd.createMaskFromColor(QColor(255, 0, 255)));
        ui->Image1->setPixmap(cd.scaled(64, 64, Qt::KeepAspectRatio, Qt::FastTransformation));
    }
    QFont title = ui->TitleLabel->font();
    title.setPointSize(title.pointSize() * 2);
    title.setBold(true);
    ui->TitleLabel->setFont(title);
    QPalette pal = ui->Panel1->palette();
    pal.setColor(QPalette::Window, QColor(0xD6, 0xDF, 0xF7));
    ui->Panel1->setPalette(pal);
}

TSplashForm::~TSplashForm()
{
    delete ui;
}

void TSplashForm::SetProgress(int percent)
{
    ui->ProgressBar1->setValue(percent);
    ui->ProgressBar1->repaint();
    ui->Label1->repaint();
    emit ProgressChanged(percent);
}

int TSplashForm::Progress() const
{
    return ui->ProgressBar1->value();
}
