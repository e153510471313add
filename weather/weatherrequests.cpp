// SKELETON STUB: replaced by the weather requests.
#include "mainwindow.h"

void MainWindow::on_coordsPushButton_clicked() {}
void MainWindow::on_updateWeatherPushButton_clicked() {}
void MainWindow::on_metricCheckBox_toggled(bool checked) { units = !checked; }
void MainWindow::on_locationComboBox_currentTextChanged(QString) {}
void MainWindow::getStations(QString, QString, QString) {}
void MainWindow::getWeather(QString) {}
void MainWindow::sslErrors(QNetworkReply*, QList<QSslError>) {}
