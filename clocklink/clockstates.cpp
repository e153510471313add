#include "clocklink/clockstates.h"

#include <QHostAddress>
#include <algorithm>

double ClockState::retransmittedShare() const
{
    if (finishedCount == 0)
        return -1;
    return double(finished.count()) / finishedCount;
}

void ClockState::noteFinished(bool retransmitted)
{
    finished.set(nextSlot, retransmitted);
    nextSlot = (nextSlot + 1) % RetransmissionWindow;
    finishedCount = qMin(finishedCount + 1, RetransmissionWindow);
}

QString healthText(ClockState::Health health)
{
    switch (health) {
    case ClockState::Health::Answering:
        return QStringLiteral("answering");
    case ClockState::Health::NotAnswering:
        return QStringLiteral("not answering");
    case ClockState::Health::NotYetSentTo:
        break;
    }
    return QStringLiteral("not yet sent to");
}

const char* healthKey(ClockState::Health health)
{
    switch (health) {
    case ClockState::Health::Answering:
        return "answering";
    case ClockState::Health::NotAnswering:
        return "not_answering";
    case ClockState::Health::NotYetSentTo:
        break;
    }
    return "not_yet_sent_to";
}

void stampEvents(ClockLinkEvents& events, const QDateTime& now, qint64 nowNs)
{
    // Events come in bursts of the same millisecond: one QDateTime each.
    qint64 lastMs = -1;
    QDateTime last;
    for (ClockLinkEvent& event : events) {
        const qint64 agoMs = qMax<qint64>(0, nowNs - event.steadyNs) / 1000000;
        if (agoMs != lastMs) {
            lastMs = agoMs;
            last = now.addMSecs(-agoMs);
        }
        event.at = last;
    }
}

namespace {

void noteAnswer(ClockState& clock, const QDateTime& at)
{
    clock.health = ClockState::Health::Answering;
    clock.lastAnswered = at;
    clock.notAnsweringSince = QDateTime();
    clock.fromBeforeRestart = false;
}

void noteSilence(ClockState& clock, const QDateTime& at)
{
    if (clock.health != ClockState::Health::NotAnswering)
        clock.notAnsweringSince = at;
    clock.health = ClockState::Health::NotAnswering;
}

}  // namespace

bool ClockStates::setLists(const QStringList& weather, const QStringList& stocks)
{
    std::vector<ClockState> next;
    QHash<quint32, int> nextByKey;
    auto add = [&](const QString& address, bool isWeather) {
        const QHostAddress parsed(address);
        if (parsed.protocol() != QAbstractSocket::IPv4Protocol)
            return;
        const quint32 key = parsed.toIPv4Address();
        int row = nextByKey.value(key, -1);
        if (row < 0) {
            const int old = rowByKey.value(key, -1);
            ClockState state = old >= 0 ? rows[size_t(old)] : ClockState();
            state.key = key;
            if (old < 0)
                takeRestored(state);
            state.address = address;
            state.weatherList = state.stockList = false;
            row = int(next.size());
            nextByKey.insert(key, row);
            next.push_back(std::move(state));
        }
        (isWeather ? next[size_t(row)].weatherList : next[size_t(row)].stockList) = true;
    };
    for (const QString& address : weather)
        add(address, true);
    for (const QString& address : stocks)
        add(address, false);

    bool same = next.size() == rows.size();
    for (size_t i = 0; same && i < next.size(); ++i)
        same = next[i].key == rows[i].key && next[i].weatherList == rows[i].weatherList &&
               next[i].stockList == rows[i].stockList;
    rows.swap(next);
    rowByKey.swap(nextByKey);
    if (!same)
        ++changes;
    return !same;
}

void ClockStates::restore(QHash<quint32, ClockState> beforeRestart)
{
    restored = std::move(beforeRestart);
    bool any = false;
    for (ClockState& clock : rows) {
        if (clock.health == ClockState::Health::NotYetSentTo && !clock.lastAnswered.isValid() &&
            restored.contains(clock.key)) {
            takeRestored(clock);
            any = true;
        }
    }
    if (any)
        ++changes;
}

void ClockStates::takeRestored(ClockState& clock)
{
    const auto found = restored.find(clock.key);
    if (found == restored.end())
        return;
    clock.lastAnswered = found->lastAnswered;
    for (size_t v = 0; v < clock.variables.size(); ++v) {
        clock.variables[v].acknowledged = found->variables[v].acknowledged;
        clock.variables[v].acknowledgedAt = found->variables[v].acknowledgedAt;
    }
    clock.fromBeforeRestart = true;
    restored.erase(found);
}

std::vector<int> ClockStates::apply(const ClockLinkEvents& events)
{
    using Kind = ClockLinkEvent::Kind;
    std::vector<int> changed;
    for (const ClockLinkEvent& event : events) {
        const auto found = rowByKey.constFind(event.clock);
        if (found == rowByKey.constEnd())
            continue;
        ClockState& clock = rows[size_t(*found)];
        const bool textEvent =
            event.kind == Kind::Queued || event.kind == Kind::Acknowledged || event.kind == Kind::GivenUp;
        if (textEvent && (event.variable < 0 || event.variable >= ClockState::Variables))
            continue;
        ClockVariableState* variable = textEvent ? &clock.variables[size_t(event.variable)] : nullptr;
        switch (event.kind) {
        case Kind::Queued:
            // A different text replaces the one given up; the same text
            // sent again stays marked until the clock takes it.
            if (variable->givenUp != event.text)
                variable->givenUp.clear();
            variable->onItsWay = event.text;
            break;
        case Kind::Acknowledged:
            variable->acknowledged = event.text;
            variable->acknowledgedAt = event.at;
            variable->givenUp.clear();
            // A newer text queued meanwhile is still on its way.
            if (variable->onItsWay == event.text)
                variable->onItsWay.clear();
            // An answer is the link's sign of health too: a clock known to
            // the link before this window's first event still shows it.
            noteAnswer(clock, event.at);
            clock.noteFinished(event.retransmitted);
            break;
        case Kind::GivenUp:
            if (variable->onItsWay == event.text) {
                variable->onItsWay.clear();
                variable->givenUp = event.text;
            }
            clock.noteFinished(event.retransmitted);
            // A clock that never answered in this run is not answering from
            // its first text given up; one that has answered, only once the
            // link says so (two in a row, as the log has it).
            if (clock.health == ClockState::Health::NotYetSentTo)
                noteSilence(clock, event.at);
            break;
        case Kind::Answering:
            noteAnswer(clock, event.at);
            break;
        case Kind::NotAnswering:
            noteSilence(clock, event.at);
            break;
        case Kind::AnswerTime:
            clock.answerMs = event.answerMs;
            break;
        }
        changed.push_back(*found);
    }
    std::sort(changed.begin(), changed.end());
    changed.erase(std::unique(changed.begin(), changed.end()), changed.end());
    if (!changed.empty())
        ++changes;
    return changed;
}

int ClockStates::rowOf(const QString& address) const
{
    bool isIPv4 = false;
    const quint32 key = QHostAddress(address).toIPv4Address(&isIPv4);
    return isIPv4 ? rowByKey.value(key, -1) : -1;
}
