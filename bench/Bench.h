#pragma once

#include <QList>
#include <QString>
#include <QStringList>

class TestSite;

// The benchmark's parts and what they share.
namespace bench {

struct Options
{
    QStringList only;   // the parts to run; empty: all but "diagnose"
    bool quick = false; // fewer repetitions, for trying the program out
    bool wants(const QString& part) const { return only.isEmpty() || only.contains(part); }
};

constexpr int paceInterval = 5000; // the replay's real pace
constexpr int transactionSteps = 150;

// One figure: one line on standard output.
void figure(const QString& line);
// Details: standard error.
void note(const QString& line);
// Starts a part: its name and the machine's load average.
void section(const QString& name);
QString fixed(double value, int decimals = 2);
// "p10 a / median b / p90 c"
QString spread(const QList<double>& values, int decimals = 1);
bool sameAddress(const QString& a, const QString& b);
// Runs the event loop for a while.
void settle(int ms);

// The parts; each prints its figures.
void measureFile(const Options& options, const QString& folder);
void measureStartup(const Options& options, const QString& logFile);
void measureMemory(const Options& options, const TestSite& site, const QString& folder,
                   const QString& logFile);
// Recording overhead, its breakdown and playback pacing, in this process. False
// when the recorder's start page did not complete.
bool measureInProcess(const Options& options, TestSite& site);
// A check run of a transaction against its pages loaded in a plain view.
void measureCheck(const Options& options, const TestSite& site);

} // namespace bench
