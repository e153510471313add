#include "app/mainwindow.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>

// Sends one GET of either feed. The request carries its own kind so that its
// reply is read as what it is. The line logged right after sending records the
// request's start, not its outcome.
void MainWindow::sendServiceRequest(QNetworkRequest request, int kind)
{
    request.setAttribute(RequestKindAttribute, kind);
    QNetworkReply* reply = networkManager->get(request);
    logLine(QString::asprintf("Error: %d ErrorString: %s", int(reply->error()),
                              reply->errorString().toLocal8Bit().constData()));
}
