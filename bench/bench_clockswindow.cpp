// The window thread's share of a campus of clocks: applying a batch of the
// clock link's events to the clocks' state and the open Clocks window, and
// taking the status file's snapshot; and the writer thread's share (the file
// itself). No network: the events are made here as the link makes them.
#include <QApplication>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QTableView>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "app/statusfile.h"
#include "clocklink/clockstates.h"
#include "ui/clockstablemodel.h"
#include "ui/clockswindow.h"

namespace {

struct Figures
{
    double median = 0;
    double max = 0;
};

Figures figures(std::vector<double> ms)
{
    std::sort(ms.begin(), ms.end());
    return {ms[ms.size() / 2], ms.back()};
}

QStringList addresses(int clocks)
{
    QStringList list;
    for (int i = 0; i < clocks; ++i)
        list << QHostAddress(quint32(0x0A000000 + 1 + i)).toString();
    return list;
}

// One round as the link reports it: every variable of every clock queued,
// then acknowledged, each clock's answer time learned.
ClockLinkEvents round(int clocks, int number, ClockLinkEvent::Kind kind)
{
    ClockLinkEvents events;
    events.reserve(clocks * 6);
    const QDateTime at = QDateTime::currentDateTime();
    for (int c = 0; c < clocks; ++c) {
        for (int v = 0; v < ClockState::Variables; ++v) {
            ClockLinkEvent e;
            e.kind = kind;
            e.clock = quint32(0x0A000000 + 1 + c);
            e.variable = v;
            e.text = QStringLiteral("%1 C r%2").arg(v).arg(number);
            e.at = at;
            e.retransmitted = (c + number) % 17 == 0;
            events.append(e);
        }
        if (kind == ClockLinkEvent::Kind::Acknowledged) {
            ClockLinkEvent t;
            t.kind = ClockLinkEvent::Kind::AnswerTime;
            t.clock = quint32(0x0A000000 + 1 + c);
            t.answerMs = 3 + c % 7;
            events.append(t);
        }
    }
    return events;
}

void measure(int clocks, int rounds)
{
    ClockStates states;
    states.setLists(addresses(clocks), {});
    ClocksTableModel table(states);
    ClocksWindow window(&table);
    window.show();
    QApplication::processEvents();

    std::vector<double> queued, acknowledged, applied, snapshot, file;
    QTemporaryDir dir;
    for (int r = 0; r < rounds; ++r) {
        for (auto kind : {ClockLinkEvent::Kind::Queued, ClockLinkEvent::Kind::Acknowledged}) {
            const ClockLinkEvents batch = round(clocks, r, kind);
            QElapsedTimer timer;
            timer.start();
            // What MainWindow::applyClockEvents does, then the repaint.
            ClockLinkEvents stamped = batch;
            stampEvents(stamped, QDateTime::currentDateTime(), 0);
            table.rowsChanged(states.apply(stamped));
            if (kind == ClockLinkEvent::Kind::Acknowledged)
                applied.push_back(timer.nsecsElapsed() / 1e6);
            window.table()->viewport()->repaint();
            QApplication::processEvents();
            (kind == ClockLinkEvent::Kind::Queued ? queued : acknowledged).push_back(timer.nsecsElapsed() / 1e6);
        }
        QElapsedTimer timer;
        timer.start();
        StatusSnapshot taken;
        taken.written = QDateTime::currentDateTime();
        taken.clocks = states.clocks();
        snapshot.push_back(timer.nsecsElapsed() / 1e6);
        timer.restart();
        StatusFile::write(dir.filePath(StatusFile::FileName), StatusFile::json(taken));
        file.push_back(timer.nsecsElapsed() / 1e6);
    }
    const Figures q = figures(queued), a = figures(acknowledged), p = figures(applied), s = figures(snapshot),
                  f = figures(file);
    std::printf("| %d | %d | %.1f (%.1f) | %.1f (%.1f) | %.1f (%.1f) | %.2f (%.2f) | %.1f (%.1f) | %d s |\n", clocks,
                clocks * ClockState::Variables, q.median, q.max, a.median, a.max, p.median, p.max, s.median, s.max,
                f.median, f.max, StatusFile::minimumSecondsBetweenWrites(clocks));
}

}  // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    std::printf("#### One full round in one batch, window open (milliseconds, median of rounds (max))\n\n");
    std::printf(
        "Window thread: applying the batch to the clocks' state and the open, sorted table, with its "
        "repaint; taking the status file's snapshot. Writer thread: the JSON text and the file. "
        "The last column is the shortest time between two status files.\n\n");
    std::printf(
        "| clocks | texts per round | queued batch | acknowledged batch | of it without the repaint "
        "| snapshot | status file (writer) | file at most every |\n|---:|---:|---:|---:|---:|---:|---:|---:|\n");
    measure(1000, 15);
    measure(10000, 7);
    return 0;
}
