// Time to fill the file list for a folder of many files, beside the time to
// read the same folder's entries alone, both measured in this run on the same
// folder. Prints a table with the ratio; asserts nothing about time.
//
//   keshlor_list_bench [--quick] [--files N] [--rounds R]
#include "browser/list_marks.h"
#include "browser/view_area.h"
#include "browser/view_contents.h"
#include "platform/files.h"
#include "platform/folder_search.h"
#include "platform/storage_cards.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTreeWidget>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

namespace {

// Kinds of files a documents folder holds; each needs its own icon once.
const char* const kExtensions[] = {"txt", "pdf", "jpg",  "png", "odt", "doc",
                                   "mp3", "zip", "html", "csv", "c",   "md"};

void MakeFolder(const QString& folder, int files) {
    QDir().mkpath(folder);
    int hidden = 0;
    for (int i = 0; i < files; ++i) {
        QString name = QString::asprintf("file%05d.%s", i, kExtensions[i % std::size(kExtensions)]);
        if (i % 7 == 3)
            name += QStringLiteral(".ksr"); // listed under its plain name, marked
        const QString path = folder + QLatin1Char('/') + name;
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly))
            continue;
        file.write(QByteArray(1 + (i * 37) % 5000, 'x'));
        file.close();
        if (i % 11 == 5 && plat::SetFileAttributes(path, plat::kAttrHidden))
            ++hidden;
    }
    std::printf("folder: %d files (%d hidden, every 7th a container)\n", files, hidden);
}

// What reading the folder costs by itself: each entry's name and stat.
long ReadEntries(const QString& folder) {
    long seen = 0;
    DIR* dir = opendir(QFile::encodeName(folder).constData());
    if (!dir)
        return 0;
    const int fd = dirfd(dir);
    struct stat st;
    while (const dirent* entry = readdir(dir)) {
        if (fstatat(fd, entry->d_name, &st, 0) == 0)
            seen += st.st_size > 0 ? 1 : 0;
    }
    closedir(dir);
    return seen;
}

// The same through Qt's folder listing with each entry's size and time.
long ReadEntriesWithQDir(const QString& folder) {
    long seen = 0;
    const QFileInfoList entries = QDir(folder).entryInfoList(QDir::AllEntries | QDir::Hidden |
                                                             QDir::System | QDir::NoDotAndDotDot);
    for (const QFileInfo& info : entries)
        seen += info.size() > 0 && info.lastModified().isValid() ? 1 : 0;
    return seen;
}

// The platform's file search, which also reads each entry's attributes.
long SearchEntries(const QString& folder) {
    std::vector<plat::FolderEntry> entries;
    plat::SearchFolder(folder, &entries);
    return static_cast<long>(entries.size());
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

template <typename Work> double TimeMs(Work work) {
    QElapsedTimer clock;
    clock.start();
    work();
    return static_cast<double>(clock.nsecsElapsed()) / 1e6;
}

} // namespace

int main(int argc, char** argv) {
    int files = 10000;
    int rounds = 9;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--quick") == 0) {
            files = 1000;
            rounds = 3;
        } else if (std::strcmp(argv[i], "--files") == 0 && i + 1 < argc) {
            files = std::atoi(argv[++i]);
        } else if (std::strcmp(argv[i], "--rounds") == 0 && i + 1 < argc) {
            rounds = std::max(1, std::atoi(argv[++i]));
        }
    }

    // A home of its own, whose documents folder is the one measured.
    QTemporaryDir home;
    if (!home.isValid())
        return 1;
    qputenv("HOME", QFile::encodeName(home.path()));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.filePath(QStringLiteral("config"))));
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    const QString folder = home.filePath(QStringLiteral("Documents"));
    MakeFolder(folder, files);

    QApplication app(argc, argv);
    plat::SetStorageCardEnumerator([] { return QList<plat::StorageCard>(); });
    ViewArea view(nullptr);
    view.resize(480, 640);
    view.show();
    g_view = &view;
    InitView(&view);
    QTreeWidget* list = view.fileList();

    std::vector<double> readTimes;
    std::vector<double> qdirTimes;
    std::vector<double> searchTimes;
    std::vector<double> fillTimes;
    long checksum = 0;
    for (int round = 0; round < rounds; ++round) {
        readTimes.push_back(TimeMs([&] { checksum += ReadEntries(folder); }));
        qdirTimes.push_back(TimeMs([&] { checksum += ReadEntriesWithQDir(folder); }));
        searchTimes.push_back(TimeMs([&] { checksum += SearchEntries(folder); }));
        fillTimes.push_back(TimeMs([&] { RefreshFileList(); }));
        app.processEvents();
    }
    const double read = Median(readTimes);
    const double qdir = Median(qdirTimes);
    const double search = Median(searchTimes);
    const double fill = Median(fillTimes);

    std::printf("rows listed: %d; type icons looked up: %d (cached by extension)\n",
                list->topLevelItemCount(), SystemIconLookups());
    std::printf("median of %d rounds (checksum %ld)\n\n", rounds, checksum);
    std::printf("| %-46s | %9s | %13s |\n", "measure", "time ms", "ratio to read");
    std::printf("|%s|%s|%s|\n", std::string(48, '-').c_str(), std::string(11, '-').c_str(),
                std::string(15, '-').c_str());
    std::printf("| %-46s | %9.2f | %13.2f |\n", "read entries: readdir + fstatat (baseline)", read,
                1.0);
    std::printf("| %-46s | %9.2f | %13.2f |\n", "read entries: QDir::entryInfoList + size, time",
                qdir, qdir / read);
    std::printf("| %-46s | %9.2f | %13.2f |\n", "file search: readdir + fstatat + attributes",
                search, search / read);
    std::printf("| %-46s | %9.2f | %13.2f |\n", "fill the file list (RefreshFileList)", fill,
                fill / read);
    std::printf("\nfill / read = %.2f (goal: under 3)\n", fill / read);
    g_view = nullptr;
    return list->topLevelItemCount() > 0 ? 0 : 1;
}
