#include "start_options.h"

#include "core/error.h"
#include "core/version.h"
#include "user_dialogs.h"

#include <cstdio>
#include <exception>

namespace quillet::gui {

// Implementation details only, past this point.
namespace detail {
namespace {

[[noreturn]] void fail(const QString& text) {
    throw Error(text.toLocal8Bit().toStdString());
}

} // namespace
} // namespace detail

QString StartUsage() {
    return QStringLiteral("Usage: quillet [DIR]\n"
                          "       quillet [--dir DIR] [--mask MASK] [--subfolders] [--pattern TEXT] [--new-text TEXT]\n"
                          "Opens the window with the given fields filled in; the others keep their defaults.\n"
                          "  DIR, --dir DIR     the folder of the File page\n"
                          "  --mask MASK        the file-name mask (\"*.htm;*.html\")\n"
                          "  --subfolders       tick \"Include Sub Folders\"\n"
                          "  --pattern TEXT     the search pattern\n"
                          "  --new-text TEXT    the new text\n"
                          "  -h, --help         print this text, and end\n"
                          "  --version          print the version, and end\n");
}

StartOptions ParseStartOptions(const QStringList& arguments) {
    StartOptions options;
    std::optional<QString> positional;
    bool optionsEnded = false;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& argument = arguments.at(i);
        // The short form everyone tries first, never a folder's name.
        if (!optionsEnded && argument == QLatin1String("-h")) {
            options.PrintAndExit = StartUsage();
            continue;
        }
        if (optionsEnded || !argument.startsWith(QLatin1String("--")) || argument == QLatin1String("--")) {
            if (!optionsEnded && argument == QLatin1String("--")) {
                optionsEnded = true;
                continue;
            }
            if (positional)
                detail::fail(
                    QStringLiteral("Only one folder can be given: \"%1\" and \"%2\"").arg(*positional, argument));
            positional = argument;
            continue;
        }
        QString name = argument.mid(2);
        std::optional<QString> inlineValue;
        if (const qsizetype equals = name.indexOf(QLatin1Char('=')); equals >= 0) {
            inlineValue = name.mid(equals + 1);
            name.truncate(equals);
        }
        auto value = [&]() -> QString {
            if (inlineValue)
                return *inlineValue;
            if (i + 1 >= arguments.size())
                detail::fail(QStringLiteral("Option --%1 needs a value").arg(name));
            return arguments.at(++i);
        };
        auto flag = [&] {
            if (inlineValue)
                detail::fail(QStringLiteral("Option --%1 takes no value").arg(name));
        };
        if (name == QLatin1String("dir")) {
            options.Directory = value();
        } else if (name == QLatin1String("mask")) {
            options.Mask = value();
        } else if (name == QLatin1String("subfolders")) {
            flag();
            options.SubFolders = true;
        } else if (name == QLatin1String("pattern")) {
            options.Pattern = value();
        } else if (name == QLatin1String("new-text")) {
            options.NewText = value();
        } else if (name == QLatin1String("screenshot")) {
            options.Screenshot = value();
        } else if (name == QLatin1String("page")) {
            const QString page = value();
            bool ok = false;
            options.ScreenshotPage = page.toInt(&ok);
            if (!ok || options.ScreenshotPage < 0 || options.ScreenshotPage > 2)
                detail::fail(QStringLiteral("Option --page needs 0, 1 or 2, not \"%1\"").arg(page));
        } else if (name == QLatin1String("help")) {
            flag();
            options.PrintAndExit = StartUsage();
        } else if (name == QLatin1String("version")) {
            flag();
            options.PrintAndExit = QStringLiteral("quillet %1\n").arg(QLatin1String(kVersion));
        } else {
            detail::fail(QStringLiteral("Unknown option %1 (see quillet --help)").arg(argument));
        }
    }
    if (positional) {
        if (options.Directory && *options.Directory != *positional)
            detail::fail(
                QStringLiteral("Only one folder can be given: \"%1\" and \"%2\"").arg(*positional, *options.Directory));
        options.Directory = positional;
    }
    return options;
}

std::optional<StartOptions> StartOptionsOrReport(const QStringList& arguments) {
    try {
        return ParseStartOptions(arguments);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "quillet: %s\n", error.what());
        userDialogs().showError(nullptr, errorBoxText(errorMessage(error)));
        return std::nullopt;
    }
}

} // namespace quillet::gui
