// Figures of the auto configuration dialog's free address search, in the
// real dialog on the offscreen platform: how long it takes to list 20 and
// 200 free addresses of a /24, how long the walk of one echo request at a
// time takes for the same 20, and whether the window keeps repainting while
// the search runs (timer ticks, the longest gap between them, paint events),
// with the echo window and the gap between sends it ran with; and how many
// of the hosts that drop echo (BENCH_SILENT_HOSTS) were listed as free.
//
// Sends echo requests: runs only on the test LAN of scripts/with-testlan.sh
// (bench/run-autoset-bench.sh), where the host is 198.18.0.10/24 and the
// gateway 198.18.0.1.
#include "Autoset.h"
#include "Forms.h"
#include "Unit1.h"
#include "../tests/app/fixtures.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QTimer>
#include <QTreeWidget>

#include <algorithm>
#include <cstdio>

#include "platform/HostNetwork.h"
#include "platform/NeighbourCheck.h"

using apptest::ui;

namespace {

constexpr const char *kStart = "198.18.0.1";
constexpr const char *kEnd = "198.18.0.254";

struct Figures
{
    qint64 ms = 0;
    QStringList listed;
    int ticks = 0;
    qint64 longestGap = 0;
    int paints = 0;
};

// One press of "Search" in the dialog, with a 10 ms timer ticking beside it.
Figures dialogSearch(int wanted)
{
    ui<QLineEdit>(frm_AutoSet, "editStartIP")->setText(QString::fromLatin1(kStart));
    ui<QLineEdit>(frm_AutoSet, "editEndIP")->setText(QString::fromLatin1(kEnd));
    ui<QLineEdit>(frm_AutoSet, "editNumber")->setText(QString::number(wanted));

    Figures f;
    apptest::PaintCounter counter;
    const QList<QWidget *> watched{apptest::addressList()->viewport(), ui(frm_AutoSet, "ProgressBar1"),
                                   ui(frm_AutoSet, "lblSearchStatus")};
    for (QWidget *w : watched)
        w->installEventFilter(&counter);
    QTimer ticker;
    ticker.setInterval(10);
    QElapsedTimer sinceTick;
    QObject::connect(&ticker, &QTimer::timeout, &ticker, [&] {
        if (f.ticks > 0)
            f.longestGap = std::max(f.longestGap, sinceTick.elapsed());
        sinceTick.start();
        ++f.ticks;
    });
    ticker.start();
    QElapsedTimer clock;
    clock.start();
    frm_AutoSet->btnSearchClick();
    f.ms = clock.elapsed();
    ticker.stop();
    for (QWidget *w : watched)
        w->removeEventFilter(&counter);
    f.paints = counter.paints;
    f.listed = apptest::columnTexts(apptest::addressList(), 1);
    return f;
}

// The walk of one request at a time over the same range, with the same
// checks (echo, then the neighbour table).
Figures sequentialWalk(int wanted)
{
    Figures f;
    QElapsedTimer clock;
    clock.start();
    const auto found = hostnet::SequentialFreeAddressWalk(
        hostnet::RangeSearch(hostnet::AddressFromText(kStart), hostnet::AddressFromText(kEnd), wanted),
        [](std::uint32_t address) { return hostnet::ProbeFreeAddress(address); });
    f.ms = clock.elapsed();
    for (std::uint32_t a : found)
        f.listed << QString::fromStdString(hostnet::AddressToText(a));
    return f;
}

const char *verdict(bool met)
{
    return met ? "met" : "MISSED";
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariable("TESTLAN_HOST_IP") != QLatin1String("198.18.0.10")) {
        std::fprintf(stderr, "autoset_bench sends echo requests: run it with bench/run-autoset-bench.sh\n");
        return 77;
    }
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    createApplicationForms();
    Form1->show();
    frm_AutoSet->show();

    // The first contact with a neighbour waits for address resolution; a
    // warm-up search keeps that out of the figures.
    dialogSearch(1);

    const Figures twenty = dialogSearch(20);
    const Figures oneAtATime = sequentialWalk(20);
    const Figures twoHundred = dialogSearch(200);

    std::printf("free address search, %s .. %s (the dialog, offscreen; window %zu, bursts of %d, then %d ms "
                "between sends)\n",
                kStart, kEnd, hostnet::kDefaultEchoWindow, hostnet::kEchoSendBurst, hostnet::kEchoSendGapMs);
    std::printf("  %-34s %8s %8s %8s %10s %8s\n", "", "ms", "listed", "ticks", "max gap", "paints");
    const auto row = [](const char *what, const Figures &f, bool window) {
        if (window)
            std::printf("  %-34s %8lld %8lld %8d %7lld ms %8d\n", what, static_cast<long long>(f.ms),
                        static_cast<long long>(f.listed.size()), f.ticks, static_cast<long long>(f.longestGap),
                        f.paints);
        else
            std::printf("  %-34s %8lld %8lld %8s %10s %8s\n", what, static_cast<long long>(f.ms),
                        static_cast<long long>(f.listed.size()), "-", "-", "-");
    };
    row("20 free, concurrent walk", twenty, true);
    row("20 free, one request at a time", oneAtATime, false);
    row("200 free, concurrent walk", twoHundred, true);

    const bool same = twenty.listed == oneAtATime.listed;
    const bool full200 = twoHundred.listed.size() == 200 && twoHundred.listed.mid(0, 20) == twenty.listed;
    // 20 in about one echo time-out, 200 (the most of a /24) in under a second.
    const int aboutOneTimeOut = hostnet::kEchoTimeoutMs + 150;
    std::printf("\n  20 free in < %d ms: %s (%.1fx faster than one at a time)\n", aboutOneTimeOut,
                verdict(twenty.ms < aboutOneTimeOut),
                twenty.ms > 0 ? double(oneAtATime.ms) / double(twenty.ms) : 0.0);
    std::printf("  200 free in < 1000 ms: %s\n", verdict(twoHundred.ms < 1000));
    std::printf("  window repainting (a tick at least every 100 ms, paints during the search): %s\n",
                verdict(twenty.longestGap < 100 && twoHundred.longestGap < 100 && twenty.paints > 0 &&
                        twoHundred.paints > 0));
    std::printf("  same list as one at a time: %s; 200 listed, starting with the 20: %s\n", same ? "yes" : "NO",
                full200 ? "yes" : "NO");
    // Hosts that exist but drop echo: each one listed is a used address
    // proposed as free.
    const QStringList silent = qEnvironmentVariable("BENCH_SILENT_HOSTS").split(QLatin1Char(' '), Qt::SkipEmptyParts);
    qsizetype proposed = 0;
    for (const QString &host : silent)
        proposed += twoHundred.listed.contains(host) || twenty.listed.contains(host) ? 1 : 0;
    std::printf("  used-but-silent addresses proposed: %lld of %lld\n", static_cast<long long>(proposed),
                static_cast<long long>(silent.size()));
    std::printf("  first: %s .. last: %s\n", qPrintable(twoHundred.listed.value(0)),
                qPrintable(twoHundred.listed.value(int(twoHundred.listed.size()) - 1)));

    frm_AutoSet->hide();
    Form1->close();
    destroyApplicationForms();
    return same && full200 ? 0 : 1;
}
