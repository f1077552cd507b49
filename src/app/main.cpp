#include "app/corvidapplication.h"

#include <QDebug>

int main(int argc, char *argv[])
{
    qDebug("*** ENTERED MAIN FUNCTION IN MAIN.CPP ***");
    CorvidApplication app(argc, argv);
    return app.run();
}
