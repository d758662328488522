#include "app/Main.h"

TMainForm::TMainForm(QWidget *parent) : QMainWindow(parent)
{
    setObjectName(QStringLiteral("MainForm"));
    setWindowTitle(QStringLiteral("Orbalist"));
    resize(800, 600);
}

TMainForm::~TMainForm() = default;
