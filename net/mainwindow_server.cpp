// The main window's switch for the forwarding server.
#include "app/mainwindow.h"

void MainWindow::serverStart(bool startStop)
{
    // Unticking "Server aktiv" stops listening and lets the client go;
    // ticking listens on the address and port in the fields right now.
    if (!startStop) {
        server.stop();
        return;
    }
    const auto port = quint16(settingsUi.te_ServerPort->text().toInt() & 0xFFFF);
    server.listen(QHostAddress(settingsUi.te_ServerIp->text()), port);
}
