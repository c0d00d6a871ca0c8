// SPDX-License-Identifier: MIT
#include "x11perf_report.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <stdexcept>

namespace qelbench {
namespace {

// Within this of the peer a result counts as level with it: one run on a
// shared machine varies by a few percent.
constexpr double kNoiseRatio = 0.95;

// The tests the GE does the work for, where qel must stay ahead.
const std::vector<std::string> kGeLeadTests = {"rect500", "copywinwin500", "scroll500",
                                               "tilerect100"};

// The tests whose main-thread CPU per operation must fall to 1/20 of
// modesetting's: large fills and copies, which the GE does for the CPU.
const std::vector<std::string> kOffloadedTests = {"rect500", "copywinwin500", "copypixwin500",
                                                  "scroll500"};
constexpr double kCpuGoalRatio = 1.0 / 20.0;

std::string ratioText(double num, double den, const char *fmt)
{
    return den > 0 ? format(fmt, num / den) : std::string("-");
}

const char *mark(bool met)
{
    return met ? "met" : "NOT MET";
}

// How qel with its defaults fares against one peer on one test.
const char *levelMark(double ratio)
{
    if (ratio >= 1.0)
        return "ok";
    return ratio >= kNoiseRatio ? "ok (within noise)" : "SLOWER";
}

class Report {
public:
    Report(std::ostream &out, const Comparison &c) : out_(out), c_(c)
    {
        accelOff_ = serverIndex([](const ServerConfig &s) { return s.title == "qel Accel off"; });
        modesetting_ = serverIndex([](const ServerConfig &s) { return s.driver == "modesetting"; });
    }

    void tests()
    {
        for (size_t t = 0; t < c_.tests.size(); ++t)
            test(t);
    }

    void table()
    {
        out_ << "Operations per second (qel defaults against each peer: ok >= 1.00, ok (within "
                "noise) >= "
             << format("%.2f", kNoiseRatio) << ", else SLOWER)\n";
        out_ << format("  %-15s", "test");
        for (const ServerConfig &s : c_.servers)
            out_ << format(" %16s", s.title.c_str());
        out_ << format("   %-26s %-26s\n", "vs qel Accel off", "vs modesetting");
        for (size_t t = 0; t < c_.tests.size(); ++t) {
            out_ << format("  %-15s", c_.tests[t].c_str());
            for (size_t s = 0; s < c_.servers.size(); ++s)
                out_ << format(" %16s", rateText(s, t).c_str());
            out_ << format("   %-26s %-26s\n", versus(accelOff_, t).c_str(),
                           versus(modesetting_, t).c_str());
        }
        out_ << "\n";
    }

    bool cpuGoal()
    {
        out_ << format("1. server main thread CPU per 500x500 fill or copy, qel defaults at most "
                       "1/%.0f of modesetting's\n",
                       1 / kCpuGoalRatio);
        bool all = true;
        for (const std::string &test : kOffloadedTests) {
            size_t t = testIndex(test);
            if (t == c_.tests.size())
                continue;
            double qel = mainCpuPerOp(0, t), peer = mainCpuPerOp(modesetting_, t);
            bool met = peer > 0 && qel <= peer * kCpuGoalRatio;
            all = all && met;
            out_ << format("   %-15s %10.3f us vs %10.3f us  ratio %-8s %s\n", test.c_str(), qel,
                           peer, ratioText(qel, peer, "%.4f").c_str(), mark(met));
        }
        return all;
    }

    // Returns the tests that fall short, for the summary line.
    std::vector<std::string> levelGoal()
    {
        out_ << format("2. qel defaults at least as fast as qel Accel off and as modesetting on "
                       "every test (a ratio >= %.2f allows for noise; the aim is >= 1.00)\n",
                       kNoiseRatio);
        std::vector<std::string> short_;
        for (size_t t = 0; t < c_.tests.size(); ++t) {
            bool met = ratio(accelOff_, t) >= kNoiseRatio && ratio(modesetting_, t) >= kNoiseRatio;
            if (!met || lostGe(t))
                short_.push_back(c_.tests[t]);
            out_ << format("   %-15s vs Accel off %-8s vs modesetting %-8s %s\n",
                           c_.tests[t].c_str(),
                           ratioText(perSecond(0, t), perSecond(accelOff_, t), "%.2fx").c_str(),
                           ratioText(perSecond(0, t), perSecond(modesetting_, t), "%.2fx").c_str(),
                           lostGe(t) ? kNotCompared : mark(met));
        }
        return short_;
    }

    std::vector<std::string> leadGoal()
    {
        out_ << "3. the GE's lead kept: qel defaults faster than qel Accel off and than "
                "modesetting where the GE does the work\n";
        std::vector<std::string> short_;
        for (const std::string &test : kGeLeadTests) {
            size_t t = testIndex(test);
            if (t == c_.tests.size())
                continue;
            bool met = ratio(accelOff_, t) > 1.0 && ratio(modesetting_, t) > 1.0;
            if (!met || lostGe(t))
                short_.push_back(test);
            out_ << format("   %-15s vs Accel off %-8s vs modesetting %-8s %s\n", test.c_str(),
                           ratioText(perSecond(0, t), perSecond(accelOff_, t), "%.2fx").c_str(),
                           ratioText(perSecond(0, t), perSecond(modesetting_, t), "%.2fx").c_str(),
                           lostGe(t) ? kNotCompared : mark(met));
        }
        return short_;
    }

    // Returns whether the goal was met (or not measured).
    bool recoveryGoal()
    {
        const Recovery &r = c_.recovery;
        out_ << format("4. a busy GE is not a hung one: tilerect100 after copypixwin500 in one "
                       "server (qel defaults) within %.0f %% of tilerect100 alone\n",
                       100 * (1 - kRecoveryRatio));
        if (!r.measured) {
            out_ << "   not measured (only some tests were selected)\n";
            return true;
        }
        bool met = !r.geGivenUp && r.alone > 0 && r.after >= kRecoveryRatio * r.alone;
        out_ << format("   alone %.1f/s, after copypixwin500 %.1f/s, ratio %s%s  %s\n", r.alone,
                       r.after, ratioText(r.after, r.alone, "%.2fx").c_str(),
                       r.geGivenUp ? ", the server GAVE UP THE GE" : "", mark(met));
        return met;
    }

    // Servers whose log says they gave up the GE: their figures are not
    // those of acceleration.
    void givenUp()
    {
        for (size_t s = 0; s < c_.servers.size(); ++s)
            for (size_t t = 0; t < c_.tests.size(); ++t)
                if (at(s, t).geGivenUpHere) {
                    out_ << c_.servers[s].title << " GAVE UP THE GE during " << c_.tests[t]
                         << " (its log says so): from there on its figures are software's "
                            "and marked (no GE)\n";
                    break;
                }
    }

private:
    static constexpr const char *kNotCompared = "NOT COMPARED (qel defaults had no GE)";
    static constexpr double kRecoveryRatio = 0.90;

    std::ostream &out_;
    const Comparison &c_;
    size_t accelOff_ = 0;
    size_t modesetting_ = 0;

    template <typename P> size_t serverIndex(P predicate) const
    {
        auto it = std::find_if(c_.servers.begin(), c_.servers.end(), predicate);
        if (it == c_.servers.end())
            throw std::logic_error("x11perf report: a peer server is missing");
        return static_cast<size_t>(it - c_.servers.begin());
    }

    size_t testIndex(const std::string &name) const
    {
        return static_cast<size_t>(std::find(c_.tests.begin(), c_.tests.end(), name) -
                                   c_.tests.begin());
    }

    const Measurement &at(size_t server, size_t test) const { return c_.results[server][test]; }
    double perSecond(size_t server, size_t test) const { return at(server, test).run.perSecond(); }
    double mainCpuPerOp(size_t server, size_t test) const
    {
        return at(server, test).microsPerOp(at(server, test).delta.mainCpuSeconds);
    }

    bool lostGe(size_t test) const { return at(0, test).geGivenUp; }

    double ratio(size_t peer, size_t test) const
    {
        double den = perSecond(peer, test);
        return den > 0 ? perSecond(0, test) / den : 0;
    }

    std::string rateText(size_t server, size_t test) const
    {
        return format("%.1f%s", perSecond(server, test),
                      at(server, test).geGivenUp ? " (no GE)" : "");
    }

    std::string versus(size_t peer, size_t test) const
    {
        return format("%.2fx %s", ratio(peer, test), levelMark(ratio(peer, test)));
    }

    void row(const std::string &name, const std::vector<std::string> &cells)
    {
        out_ << format("  %-30s", name.c_str());
        for (const std::string &cell : cells)
            out_ << format(" %16s", cell.c_str());
        out_ << "\n";
    }

    template <typename F> std::vector<std::string> cells(size_t test, F cell) const
    {
        std::vector<std::string> out;
        for (size_t server = 0; server < c_.servers.size(); ++server)
            out.push_back(cell(c_.servers[server], at(server, test)));
        return out;
    }

    // A GE figure, or "-" for the servers without the GE.
    static std::string geRatio(const ServerConfig &s, double num, double den)
    {
        return s.hasGe ? ratioText(num, den, "%.2f") : std::string("-");
    }

    void test(size_t t)
    {
        out_ << c_.tests[t] << ": " << at(0, t).run.label() << "\n";
        row("", cells(t, [](const ServerConfig &s, const Measurement &) { return s.title; }));
        row("operations per second", cells(t, [](const ServerConfig &, const Measurement &m) {
                return format("%.1f", m.run.perSecond());
            }));
        for (size_t r = 0; r < at(0, t).roundRates.size(); ++r)
            row(format("  round %zu", r + 1),
                cells(t, [r](const ServerConfig &, const Measurement &m) {
                    return r < m.roundRates.size() ? format("%.1f", m.roundRates[r])
                                                   : std::string("-");
                }));
        row("x11perf -reps per run", cells(t, [](const ServerConfig &, const Measurement &m) {
                return std::to_string(m.repsPerRun);
            }));
        row("operations counted", cells(t, [](const ServerConfig &, const Measurement &m) {
                return std::to_string(m.run.operations());
            }));
        row("main thread CPU (s)", cells(t, [](const ServerConfig &, const Measurement &m) {
                return format("%.3f", m.delta.mainCpuSeconds);
            }));
        row("main thread CPU per op (us)", cells(t, [](const ServerConfig &, const Measurement &m) {
                return format("%.3f", m.microsPerOp(m.delta.mainCpuSeconds));
            }));
        row("process CPU per op (us)", cells(t, [](const ServerConfig &, const Measurement &m) {
                return format("%.3f", m.microsPerOp(m.delta.processCpuSeconds));
            }));
        row("GE ops per GE_SUBMIT", cells(t, [](const ServerConfig &s, const Measurement &m) {
                return geRatio(s, static_cast<double>(m.delta.geOps),
                               static_cast<double>(m.delta.geSubmits));
            }));
        row("GE ops per x11perf op", cells(t, [](const ServerConfig &s, const Measurement &m) {
                return geRatio(s, static_cast<double>(m.delta.geOps),
                               static_cast<double>(m.run.operations()));
            }));
        row("GE_WAIT calls", cells(t, [](const ServerConfig &s, const Measurement &m) {
                return s.hasGe ? std::to_string(m.delta.geWaits) : std::string("-");
            }));
        row("GE given up", cells(t, [](const ServerConfig &s, const Measurement &m) {
                if (!s.hasGe)
                    return std::string("-");
                return std::string(m.geGivenUpHere ? "IN THIS TEST"
                                   : m.geGivenUp   ? "before"
                                                   : "no");
            }));
        out_ << "  qel defaults: against qel Accel off " << versus(accelOff_, t)
             << ", against modesetting " << versus(modesetting_, t)
             << ", main thread CPU per op against modesetting's "
             << ratioText(mainCpuPerOp(0, t), mainCpuPerOp(modesetting_, t), "%.4f") << "\n\n";
    }
};

std::string joined(const std::vector<std::string> &names)
{
    std::string text;
    for (const std::string &name : names)
        text += (text.empty() ? "" : " ") + name;
    return text;
}

std::string goalSummary(int number, const std::vector<std::string> &shortOn)
{
    if (shortOn.empty())
        return format("goal %d met", number);
    return format("goal %d NOT MET (%s)", number, joined(shortOn).c_str());
}

void header(std::ostream &out, const Timing &timing, const Comparison &c)
{
    out << "x11perf on the real Xorg, simulated 1024x768 panel, simulated GE on its worker thread\n"
        << "timing: " << timing.text << " (measured runs: -repeat " << timing.repeat
        << " -reps N, N found for " << timing.seconds << " s per rep unless -reps is given; "
        << timing.rounds << " rounds)\n"
        << "servers:";
    for (const ServerConfig &s : c.servers) {
        out << " " << s.title << " (driver " << s.driver;
        for (const auto &[name, value] : s.options)
            out << ", " << name << " " << value;
        out << ");";
    }
    out << "\nthe servers run side by side and take each test in turn, so that a change of load\n"
        << "on the machine falls on all of them alike. Each test is measured in rounds, every\n"
        << "server once per round, and each round starts with the next server, so that no\n"
        << "server always runs first or last; a server's figures are those of its median round\n"
        << "(by operations per second), and the rate of every round is listed.\n\n"
        << "What is counted. Operations: the sum of x11perf's per-rep counts (reps times the\n"
        << "objects one rep draws) over the measured run. x11perf's own calibration, which\n"
        << "draws an unreported number of operations, is replaced by a fixed -reps found in\n"
        << "earlier runs that are not measured (with -reps x11perf also skips its sync-time\n"
        << "adjustment, a few microseconds per rep of seconds). CPU: run time of the X\n"
        << "server's main thread (/proc/<pid>/task/<pid>/schedstat, nanoseconds) and of all its\n"
        << "threads (which include the simulated GE's worker thread, i.e. the hardware), from\n"
        << "before x11perf starts until it has exited and the GE is idle: so it also covers\n"
        << "x11perf's connection, its window, and the test's setup and cleanup (a small fixed\n"
        << "cost per run). GE_WAIT calls: the driver's waits for the GE in the run.\n\n";
}

} // namespace

Sample operator-(const Sample &a, const Sample &b)
{
    return {a.mainCpuSeconds - b.mainCpuSeconds, a.processCpuSeconds - b.processCpuSeconds,
            a.geSubmits - b.geSubmits, a.geOps - b.geOps, a.geWaits - b.geWaits};
}

double Measurement::microsPerOp(double seconds) const
{
    long ops = run.operations();
    return ops > 0 ? 1e6 * seconds / static_cast<double>(ops) : 0;
}

Measurement medianRound(const std::vector<Measurement> &rounds)
{
    if (rounds.empty())
        throw std::invalid_argument("x11perf report: a test without a measured round");
    std::vector<const Measurement *> byRate;
    for (const Measurement &m : rounds)
        byRate.push_back(&m);
    std::sort(byRate.begin(), byRate.end(), [](const Measurement *a, const Measurement *b) {
        return a->run.perSecond() < b->run.perSecond();
    });
    Measurement median = *byRate[(byRate.size() - 1) / 2];
    median.roundRates.clear();
    for (const Measurement &m : rounds) {
        median.roundRates.push_back(m.run.perSecond());
        median.geGivenUpHere = median.geGivenUpHere || m.geGivenUpHere;
        median.geGivenUp = median.geGivenUp || m.geGivenUp;
    }
    return median;
}

void writeReport(std::ostream &out, const Timing &timing, const Comparison &c)
{
    header(out, timing, c);
    Report report(out, c);
    report.tests();
    report.table();
    report.givenUp();
    out << "Goals\n";
    bool cpu = report.cpuGoal();
    std::vector<std::string> slower = report.levelGoal();
    std::vector<std::string> lost = report.leadGoal();
    bool recovered = report.recoveryGoal();
    out << "\nsummary: goal 1 " << mark(cpu) << ", " << goalSummary(2, slower) << ", "
        << goalSummary(3, lost) << ", goal 4 " << mark(recovered) << "\n";
}

} // namespace qelbench
