#include <QApplication>

#include "window/program.h"

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    return runForm1();
}
