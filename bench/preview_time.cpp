// Times the window's Preview (the Changes page) over a tree, as a user
// starts it, and prints the wall time and the process's memory before and at
// its peak, to set beside `quillet-cli OPERATION ... --dry-run` of the same
// settings:
//
//   quillet_preview_time DIR PATTERN NEWTEXT [MASK]
//
// Replace Text of PATTERN by NEWTEXT in every file under DIR whose name fits
// MASK (default "*"), on one thread per processor, as the window runs it.
#include "changes_page.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>

#include <sys/resource.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <thread>

namespace {

long residentKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    }
    return -1;
}

long peakKiB() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: quillet_preview_time DIR PATTERN NEWTEXT [MASK]\n");
        return 2;
    }
    QApplication app(argc, argv);
    quillet::engine::RunRequest request;
    request.Shape = quillet::engine::RunShape::DirectoryWalk;
    request.Directory = argv[1];
    request.Mask = argc > 4 ? argv[4] : "*";
    request.Param.Operation = quillet::core::OpReplaceText;
    request.Param.SearchPattern = argv[2];
    request.Param.NewText = argv[3];
    request.Threads = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    quillet::gui::ChangesPage page([&] { return request; });
    page.resize(900, 700);
    page.show();
    QApplication::processEvents();
    const long before = residentKiB();
    QSignalSpy ended(&page, &quillet::gui::ChangesPage::actionEnded);
    QElapsedTimer timer;
    timer.start();
    page.findChild<QPushButton*>(QStringLiteral("Preview_Btn"))->click();
    while (ended.isEmpty())
        QApplication::processEvents(QEventLoop::WaitForMoreEvents);
    const qint64 ms = timer.elapsed();
    std::printf("preview: %.3f s, memory %ld MB before, %ld MB peak, %ld MB after\n%s\n", double(ms) / 1000.0,
                before / 1024, peakKiB() / 1024, residentKiB() / 1024,
                qPrintable(page.findChild<QLabel*>(QStringLiteral("Changes_Lab"))->text()));
    return 0;
}
