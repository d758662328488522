// The program's main block. The program takes no command-line arguments.
#include <QApplication>

#include "app/Main.h"

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Orbalist"));
    TMainForm form;
    form.show();
    return QApplication::exec();
}
