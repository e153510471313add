#include "app/statusmetrics.h"

#include <cstdio>

#include "app/statusfile.h"

namespace {

class MetricsText
{
public:
    QByteArray out;

    void family(const char* name, const char* type, const char* help)
    {
        out += "# HELP ";
        out += name;
        out += ' ';
        out += help;
        out += "\n# TYPE ";
        out += name;
        out += ' ';
        out += type;
        out += '\n';
    }
    // One sample; `label` is empty for none.
    void sample(const char* name, const char* label, const QByteArray& labelValue, double value)
    {
        out += name;
        if (*label) {
            out += '{';
            out += label;
            out += "=\"";
            for (const char c : labelValue) {
                if (c == '\\' || c == '"')
                    out += '\\';
                if (c == '\n')
                    out += "\\n";
                else
                    out += c;
            }
            out += "\"}";
        }
        char buffer[40];
        std::snprintf(buffer, sizeof buffer, " %.15g\n", value);
        out += buffer;
    }
};

double epochSeconds(const QDateTime& time)
{
    return double(time.toMSecsSinceEpoch()) / 1000.0;
}

}  // namespace

QByteArray StatusMetrics::text(const StatusSnapshot& snapshot)
{
    MetricsText m;
    m.out.reserve(int(4096 + snapshot.clocks.size() * 220));
    m.family("corvelta_build_info", "gauge", "Corvelta's version, in the label; always 1.");
    m.sample("corvelta_build_info", "version", snapshot.version.toUtf8(), 1);
    m.family("corvelta_start_time_seconds", "gauge", "When this run started, in seconds since the Unix epoch.");
    m.sample("corvelta_start_time_seconds", "", QByteArray(), epochSeconds(snapshot.started));

    qint64 counts[3] = {};
    for (const ClockState& clock : snapshot.clocks)
        ++counts[int(clock.health)];
    m.family("corvelta_clocks", "gauge", "Clocks of the address lists by state.");
    for (const auto health :
         {ClockState::Health::Answering, ClockState::Health::NotAnswering, ClockState::Health::NotYetSentTo})
        m.sample("corvelta_clocks", "state", healthKey(health), double(counts[int(health)]));

    // Per clock: a clock never sent to has no health yet, a clock not
    // measured no answer time, one that never answered no last answer.
    m.family("corvelta_clock_answering", "gauge", "1 while the clock answers, 0 while it does not.");
    for (const ClockState& clock : snapshot.clocks) {
        if (clock.health != ClockState::Health::NotYetSentTo)
            m.sample("corvelta_clock_answering", "clock", clock.address.toUtf8(),
                     clock.health == ClockState::Health::Answering ? 1 : 0);
    }
    m.family("corvelta_clock_answer_seconds", "gauge", "The clock's smoothed answer time.");
    for (const ClockState& clock : snapshot.clocks) {
        if (clock.answerMs >= 0)
            m.sample("corvelta_clock_answer_seconds", "clock", clock.address.toUtf8(), clock.answerMs / 1000.0);
    }
    m.family("corvelta_clock_last_answer_timestamp_seconds", "gauge",
             "When the clock last answered, in seconds since the Unix epoch.");
    for (const ClockState& clock : snapshot.clocks) {
        if (clock.lastAnswered.isValid())
            m.sample("corvelta_clock_last_answer_timestamp_seconds", "clock", clock.address.toUtf8(),
                     epochSeconds(clock.lastAnswered));
    }

    m.family("corvelta_datagrams_sent_total", "counter", "Datagrams sent to the clocks, every copy counted.");
    m.sample("corvelta_datagrams_sent_total", "", QByteArray(), double(snapshot.datagramsSent));
    m.family("corvelta_datagrams_retransmitted_total", "counter",
             "Copies of a datagram sent after its first, while no answer came.");
    m.sample("corvelta_datagrams_retransmitted_total", "", QByteArray(), double(snapshot.datagramsRetransmitted));
    m.family("corvelta_datagrams_given_up_total", "counter", "Texts given up after their last copy went unanswered.");
    m.sample("corvelta_datagrams_given_up_total", "", QByteArray(), double(snapshot.textsGivenUp));

    m.family("corvelta_feed_last_success_timestamp_seconds", "gauge",
             "The feed's last good refresh, in seconds since the Unix epoch.");
    for (int f = 0; f < FeedStatus::Count; ++f) {
        if (snapshot.feeds[size_t(f)].lastSuccess.isValid())
            m.sample("corvelta_feed_last_success_timestamp_seconds", "feed", FeedStatus::name(FeedStatus::Feed(f)),
                     epochSeconds(snapshot.feeds[size_t(f)].lastSuccess));
    }
    m.family("corvelta_feed_failures_total", "counter", "The feed's failed requests and unusable replies.");
    for (int f = 0; f < FeedStatus::Count; ++f)
        m.sample("corvelta_feed_failures_total", "feed", FeedStatus::name(FeedStatus::Feed(f)),
                 double(snapshot.feeds[size_t(f)].failures));
    m.family("corvelta_feed_suspended", "gauge", "1 while the service has asked the feed to keep away.");
    for (int f = 0; f < FeedStatus::Count; ++f)
        m.sample("corvelta_feed_suspended", "feed", FeedStatus::name(FeedStatus::Feed(f)),
                 snapshot.feeds[size_t(f)].suspendedUntil.isValid() ? 1 : 0);
    return m.out;
}
