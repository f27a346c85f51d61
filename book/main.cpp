// quilora-book: signs in, lists patients and schedules, books and auto-books
// from the command line, on the window's engine and its Config.ini.
#include <CLI/CLI.hpp>
#include <QCoreApplication>
#include <QDir>
#include <cstdio>
#include <filesystem>

#include "book/book_commands.h"
#include "book/book_options.h"
#include "book/book_output.h"
#include "common/platform.h"

int main(int argc, char** argv) {
    // Qt SQL loads its drivers as plugins, which needs the application object.
    QCoreApplication qt(argc, argv);
    quilora::platform::UseUtf8Console();
    using namespace quilora::book;

    BookOptions options;
    options.configPath =
        QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("Config.ini")).toStdString();
    CLI::App app{"Books Quilora appointments from the command line, with the window's Config.ini.",
                 "quilora-book"};
    DefineCommandLine(app, options);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        // --help and --version end well; every other parse error is bad usage.
        return app.exit(e) == 0 ? kExitDone : kExitUsage;
    }

    const OutputMode mode = options.json                            ? OutputMode::Json
                            : quilora::platform::IsTerminal(stdout) ? OutputMode::Terminal
                                                                    : OutputMode::Lines;
    BookOutput output(mode, options.verbose, stdout, stderr);
    return RunCommand(options, output);
}
