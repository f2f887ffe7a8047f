#include "FdPath.h"
#include "HangBound.h"
#include "KeyRanges.h"
#include "Paths.h"
#include "PrivateProfile.h"
#include "SimulatedSystemActions.h"
#include "TestRoot.h"

#include <QRandomGenerator>
#include <QtTest>

#include <algorithm>

#include <csignal>
#include <atomic>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

// Every fsync and fdatasync of the process comes here: those of files under g_syncFolder are
// counted, then the call goes on to the kernel.
namespace {
QByteArray g_syncFolder;
std::atomic<int> g_syncs{0};

void countSync(int fd)
{
    if (!g_syncFolder.isEmpty() && pathOfFd(fd).startsWith(g_syncFolder))
        ++g_syncs;
}
} // namespace

extern "C" int fsync(int fd)
{
    countSync(fd);
    return int(::syscall(SYS_fsync, fd));
}

extern "C" int fdatasync(int fd)
{
    countSync(fd);
    return int(::syscall(SYS_fdatasync, fd));
}

// Every write of the process comes here too: while g_fullFolder is set, hidden files in it get
// g_spaceLeft more bytes, then ENOSPC, as on a full card.
namespace {
QByteArray g_fullFolder;
std::atomic<long long> g_spaceLeft{0};
} // namespace

extern "C" ssize_t write(int fd, const void *data, size_t count)
{
    if (!g_fullFolder.isEmpty() && pathOfFd(fd).startsWith(g_fullFolder + "/.")) {
        const long long left = g_spaceLeft;
        if (left <= 0) {
            errno = ENOSPC;
            return -1;
        }
        count = size_t(std::min<long long>(left, (long long)count));
        g_spaceLeft -= (long long)count;
    }
    return ssize_t(::syscall(SYS_write, fd, data, count));
}

namespace {

std::string read(const std::string &file, const std::string &section, const std::string &key,
                 const char *def = "none", int *result = nullptr)
{
    std::string out;
    const int r = ReadPrivateProfileString(section, key, def, out, file);
    if (result)
        *result = r;
    return out;
}

// The default the configuration table gives [section] key: its own, or that of the key whose
// value stands in for it.
QString tableDefault(const std::string &section, const std::string &key)
{
    const KeyRanges::Range *range = KeyRanges::configuration().find(section, key);
    if (range && range->defKey)
        return tableDefault(section, range->defKey);
    return range && range->def ? range->def : QString();
}

QByteArray contents(const std::string &file)
{
    QFile f(QString::fromStdString(file));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The file as Python's configparser sees it: {"section": {"key": "value"}}, or an empty object
// when it refuses the file.
QJsonObject parsedByPython(const std::string &file)
{
    const char *script = "import configparser, json, sys\n"
                         "p = configparser.RawConfigParser()\n"
                         "p.optionxform = str\n"
                         "p.read(sys.argv[1], encoding='latin-1')\n"
                         "print(json.dumps({s: dict(p[s]) for s in p.sections()}))\n";
    QProcess python;
    python.start("python3", {"-c", script, QString::fromStdString(file)});
    if (!python.waitForFinished(kHangBoundMs) || python.exitCode() != 0)
        return {};
    return QJsonDocument::fromJson(python.readAllStandardOutput()).object();
}

} // namespace

class TestPrivateProfile : public QObject
{
    Q_OBJECT
private slots:
    void missingFileKeyOrValueGiveTheDefault()
    {
        TestRoot root;
        const QString folder = root.makeDir("/root/Microscope/NIMBO");
        const std::string file = Paths::configFile().toStdString();
        int result = -1;
        QCOMPARE(read(file, "Setting_Misc", "ShowStartDlg", "1", &result), std::string("1"));
        QCOMPARE(result, 0);
        QVERIFY(QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden).isEmpty());

        root.writeFile("/root/Microscope/NIMBO/NIMBO.ini", "[Setting_Misc]\nShowStartDlg=\nOther=x\nA=a,b\nB=a, b\n");
        QCOMPARE(read(file, "Setting_Misc", "ShowStartDlg", "1", &result), std::string("1"));
        QCOMPARE(result, 0);
        QCOMPARE(read(file, "Setting_Misc", "Missing", "d"), std::string("d"));
        QCOMPARE(read(file, "NoSuchGroup", "Other", "d"), std::string("d"));
        QCOMPARE(read(file, "Setting_Misc", "Other", "d", &result), std::string("x"));
        QCOMPARE(result, 1);
        QCOMPARE(read(file, "Setting_Misc", "A"), std::string("a, b")); // an unquoted list reads back joined
        QCOMPARE(read(file, "Setting_Misc", "B"), std::string("a, b"));

        // Many keys with one parse: each as its own read gives it.
        std::vector<PrivateProfileEntry> batch{{"Setting_Misc", "ShowStartDlg", "1"},
                                               {"Setting_Misc", "Other", "d"},
                                               {"NoSuchGroup", "Other", "d"},
                                               {"Setting_Misc", "A", ""}};
        QCOMPARE(ReadPrivateProfileBatch(batch, file), 2);
        const char *expected[] = {"1", "x", "d", "a, b"};
        for (size_t i = 0; i < batch.size(); ++i)
            QCOMPARE(batch[i].value, std::string(expected[i]));
    }

    // Values round-trip; names with spaces are written plain ("%20" only until a writer of many
    // keys cleans the file once); configparser reads the file as written.
    void valuesRoundTripAndStayReadableByConfigparser()
    {
        TestRoot root;
        const std::string file = Paths::configFile().toStdString(); // its folder does not exist yet
        WritePrivateProfileString("Focus Memory", "Z Position", "5", file);
        WritePrivateProfileString("Filter_1", "Desc", "a, b; c=d", file);
        WritePrivateProfileString("Filter_1", "Unit", "\xC2\xB5m", file);
        WritePrivateProfileString("Focus", "Note", "a%20b", file);
        QByteArray text = contents(file);
        QVERIFY(text.contains("[Focus Memory]\nZ Position=5\n"));
        QVERIFY(!text.contains("%20"));
        QCOMPARE(read(file, "Focus", "Note"), std::string("a b"));
        QCOMPARE(read(file, "Filter_1", "Desc"), std::string("a, b; c=d"));
        QCOMPARE(read(file, "Filter_1", "Unit"), std::string("\xC2\xB5m"));

        WriteSetting("Focus", "Speed", "3", file);
        QVERIFY(contents(file).contains("Z%20Position=5"));
        QCOMPARE(read(file, "Focus Memory", "Z Position"), std::string("5"));
        QVERIFY(NormalizePrivateProfile(file));
        text = contents(file);
        QVERIFY(text.contains("Z Position=5\n") && !text.contains("%20"));

        const QJsonObject python = parsedByPython(file);
        QCOMPARE(python["Focus Memory"].toObject()["Z Position"].toString(), QString("5"));
        QCOMPARE(python["Focus"].toObject()["Speed"].toString(), QString("3"));
        QCOMPARE(python["Filter_1"].toObject()["Desc"].toString(), QString("\"a, b; c=d\""));
    }

    // A read that breaks off part-way (an I/O error on the card): a setting change and the clean-up
    // leave the file as it was, never rebuilt from the part that was read.
    void aFailingReadLeavesTheFileAsItWas()
    {
        TestRoot root;
        const std::string file = Paths::configFile().toStdString();
        for (int i = 0; i < 20; ++i)
            WriteSetting("Filter_" + std::to_string(i % 4), "Key" + std::to_string(i), "value%20" + std::to_string(i), file);
        const QByteArray before = contents(file);
        SetPrivateProfileReadFault(before.size() / 2);
        WritePrivateProfileString("Camera", "Mode", "16", file);
        WriteSetting("Camera", "Gain", "2", file);
        const bool normalized = NormalizePrivateProfile(file);
        SetPrivateProfileReadFault(-1);
        QVERIFY(!normalized);
        QCOMPARE(contents(file), before);
        WritePrivateProfileString("Camera", "Mode", "16", file); // the card answers again
        QCOMPARE(read(file, "Filter_3", "Key19"), std::string("value 19"));
    }

    // Each write costs one flush of the file and one of its folder, whatever the writer; writes in
    // a tight loop (same size, often within the same millisecond) are seen by the next read.
    void eachWriteSyncsOnceAndIsSeenAtOnce()
    {
        TestRoot root;
        const std::string file = Paths::configFile().toStdString();
        WritePrivateProfileString("A", "K", "0", file); // makes the folder
        g_syncFolder = QFile::encodeName(QFileInfo(QString::fromStdString(file)).absolutePath());
        g_syncs = 0;
        for (int i = 0; i < 300; ++i) {
            const std::string value = std::to_string(i % 10);
            if (i % 3)
                WritePrivateProfileString("A", "K", value, file);
            else
                WriteSetting("A", "K", value, file);
            QCOMPARE(read(file, "A", "K"), value);
        }
        const int syncs = g_syncs;
        g_syncFolder.clear();
        QCOMPARE(syncs, 600);
    }

    // A batch is one replacement: keys set in order, "%20" cleaned, the file's other bytes kept,
    // one flush of the file and its folder, one system sync; a file that cannot be written stays.
    void aBatchIsOneReplacement()
    {
        TestRoot root;
        SimulatedSystemActions actions;
        SystemActions::setInstance(&actions);
        const std::string file = Paths::configFile().toStdString();
        root.writeFile("/root/Microscope/NIMBO/NIMBO.ini", "[Note]\nText=caf\xC3\xA9\n[Old%20Group]\nA=1\n");
        g_syncFolder = QFile::encodeName(QFileInfo(QString::fromStdString(file)).absolutePath());
        g_syncs = 0;
        QVERIFY(WritePrivateProfileBatch({{"Focus", "Speed", "1"}, {"Focus Memory", "Z 1", "-1"}, {"Focus", "Speed", "2"}}, file));
        const int syncs = g_syncs;
        g_syncFolder.clear();
        QCOMPARE(syncs, 2);
        QCOMPARE(actions.calls(), QStringList{"sync"});
        const QByteArray text = contents(file);
        QVERIFY(text.contains("Text=caf\xC3\xA9\n") && text.contains("[Old Group]") && !text.contains("%20"));
        QCOMPARE(read(file, "Focus", "Speed"), std::string("2"));
        QCOMPARE(read(file, "Focus Memory", "Z 1"), std::string("-1"));

        actions.clearCalls();
        const std::string folder = Paths::path("/root/Microscope/NIMBO/Folder.ini").toStdString();
        QVERIFY(QDir().mkpath(QString::fromStdString(folder)));
        QVERIFY(!WritePrivateProfileBatch({{"A", "B", "C"}}, folder));
        QVERIFY(actions.calls().isEmpty());
        SystemActions::setInstance(nullptr);
    }

    // A full card, at once or part-way through the new text: every kind of write leaves the old
    // file whole and no temporary file beside it, and a batch reports the failure.
    void aFullCardLeavesTheOldFile_data()
    {
        QTest::addColumn<double>("room"); // share of the new text that still fits
        QTest::newRow("full at once") << 0.0;
        QTest::newRow("full part-way") << 0.5;
        QTest::newRow("one byte short") << -1.0; // of the old file's size
    }
    void aFullCardLeavesTheOldFile()
    {
        QFETCH(double, room);
        TestRoot root;
        const std::string file = Paths::configFile().toStdString();
        for (int k = 0; k < 50; ++k)
            WriteSetting("Lens", "Key " + std::to_string(k), "value " + std::to_string(k), file);
        QVERIFY(NormalizePrivateProfile(file));
        const QByteArray before = contents(file);
        const long long size = before.size(); // every new text is longer
        const QString folder = QFileInfo(QString::fromStdString(file)).absolutePath();
        const auto fill = [&] { g_spaceLeft = room < 0 ? size - 1 : (long long)(room * double(size)); };
        g_fullFolder = QFile::encodeName(folder);
        fill();
        const bool batch = WritePrivateProfileBatch({{"Camera", "Mode", "16"}, {"Camera", "Gain", "2"}}, file);
        fill();
        WritePrivateProfileString("Camera", "Mode", "16", file);
        fill();
        WriteSetting("Camera", "Gain", "2", file);
        g_fullFolder.clear();
        QVERIFY(!batch);
        QCOMPARE(contents(file), before);
        QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList{"NIMBO.ini"});
        QCOMPARE(parsedByPython(file)["Lens"].toObject().size(), 50);
    }

    void threadsWritingAtOnceLoseNothing()
    {
        TestRoot root;
        const std::string file = Paths::configFile().toStdString();
        QList<QThread *> threads;
        for (int t = 0; t < 4; ++t) {
            threads << QThread::create([t, file] {
                for (int k = 0; k < 15; ++k)
                    WritePrivateProfileString("T" + std::to_string(t), "K" + std::to_string(k), std::to_string(k), file);
            });
            threads.last()->start();
        }
        for (QThread *thread : threads) {
            QVERIFY(thread->wait(60000));
            delete thread;
        }
        for (int t = 0; t < 4; ++t)
            for (int k = 0; k < 15; ++k)
                QCOMPARE(read(file, "T" + std::to_string(t), "K" + std::to_string(k)), std::to_string(k));
    }

    // A writer killed at any moment leaves the old file or the new one, never a torn one.
    void aKilledWriterLeavesAWholeFile()
    {
        TestRoot root;
        const std::string file = Paths::configFile().toStdString();
        const int keys = 200;
        for (int k = 0; k < keys; ++k)
            WriteSetting("Big Group", "Key " + std::to_string(k), "start", file);
        QVERIFY(NormalizePrivateProfile(file));

        int rewritten = 0;
        QList<pid_t> writers;
        for (int round = 0; round < 6; ++round) {
            const pid_t child = fork();
            QVERIFY(child >= 0);
            writers << child;
            if (child == 0) {
                for (int i = 0;; ++i)
                    WritePrivateProfileString("Big Group", "Key " + std::to_string(i % keys),
                                              "round" + std::to_string(i), file);
            }
            QThread::msleep(50 + 37 * round);
            ::kill(child, SIGKILL);
            int status = 0;
            QCOMPARE(::waitpid(child, &status, 0), child);

            QCOMPARE(parsedByPython(file)["Big Group"].toObject().size(), keys);
            for (int k = 0; k < keys; ++k) {
                const std::string value = read(file, "Big Group", "Key " + std::to_string(k), "");
                QVERIFY(!value.empty());
                rewritten += value != "start";
            }
        }
        QVERIFY(rewritten > 0); // the writers were really killed in the middle of their work

        // What the killed writers left is swept at the next start; the file stays. The scratch
        // folder is shared with every other program on the machine: only this test's own files
        // are judged there, a dead writer's (swept) and a live one's (kept).
        const QDir folder = QFileInfo(QString::fromStdString(file)).absoluteDir();
        root.writeFile("/root/Microscope/NIMBO/.NIMBO.ini.left1", "[Big Group]\n");
        const QDir scratch(QFileInfo("/dev/shm").isWritable() ? "/dev/shm" : QDir::tempPath());
        const auto scratchOf = [](pid_t pid) { return QString("vantor-profile-%1-*").arg(pid); };
        const QString dead = scratch.filePath(scratchOf(writers.first()).replace('*', "left")),
                      live = scratch.filePath(scratchOf(::getpid()).replace('*', "left"));
        QVERIFY(QFile(dead).open(QIODevice::WriteOnly) && QFile(live).open(QIODevice::WriteOnly));
        SweepPrivateProfileLeftovers(file);
        QCOMPARE(folder.entryList(QDir::Files | QDir::Hidden), QStringList{"NIMBO.ini"});
        QCOMPARE(read(file, "Big Group", "Key 0", ""), read(file, "Big Group", "Key 0", "x"));
        for (pid_t writer : writers)
            QCOMPARE(scratch.entryList({scratchOf(writer)}, QDir::Files | QDir::Hidden), QStringList());
        QVERIFY(QFile::remove(live));
    }

    // A file that QSettings cannot parse as it stands (a byte-order mark, a line of garbage, a
    // torn tail) reads, takes every kind of write and keeps each key; the line it cannot read is
    // left out and logged.
    void unparsableFilesStayWritable_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QString>("leftOut"); // the warning's pattern, empty when none
        const QByteArray keys = "[Focus]\nCoarseStepSize=5\n[Camera]\nMode=16\n";
        QTest::newRow("byte-order mark") << "\xEF\xBB\xBF" + keys << QString();
        QTest::newRow("mark, blank line") << "\xEF\xBB\xBF\r\n" + keys << QString();
        QTest::newRow("garbage line") << QByteArray("[Focus]\nCoarseStepSize=5\nsome garbage\r\n[Camera]\nMode=16\n")
                                      << "line 3 cannot be read.*some garbage";
        QTest::newRow("binary line") << QByteArray("[Focus]\nCoarseStepSize=5\n\x01") + '\0' + "\xff=\n[Camera]\nMode=16\n"
                                     << "line 3 cannot be read";
        QTest::newRow("hash comment") << "# by hand\n" + keys << "line 1 cannot be read.*# by hand";
        QTest::newRow("torn tail") << keys + QByteArray(6, '\0') << "line 5 cannot be read";
        QTest::newRow("open header") << QByteArray("[Focus]\nCoarseStepSize=5\n[Camera\nMode=16\n") << QString();
        // Lines QSettings parses into something else than one line: an open quote or a trailing
        // backslash runs on into the next lines, a carriage return splits a line.
        QTest::newRow("open quote") << QByteArray("[Focus]\nCoarseStepSize=5\nName=\"abc\n[Camera]\nMode=16\n")
                                    << "line 3 cannot be read";
        QTest::newRow("trailing backslash") << QByteArray("[Focus]\nCoarseStepSize=5\nName=abc\\\n[Camera]\nMode=16\n")
                                            << "line 3 cannot be read";
        QTest::newRow("quoted key") << QByteArray("[Focus]\nCoarseStepSize=5\n\"=1\n[Camera]\nMode=16\n")
                                    << "line 3 cannot be read";
        QTest::newRow("escaped equals") << QByteArray("[Focus]\nCoarseStepSize=5\na\\=1\n[Camera]\nMode=16\n")
                                        << "line 3 cannot be read";
        QTest::newRow("carriage return") << QByteArray("[Focus]\nCoarseStepSize=5\nKnob=0\rjunk\r\n[Camera]\nMode=16\n")
                                         << "line 3 cannot be read";
        // Every byte but the line break, in order and at random.
        QByteArray all;
        for (int b = 1; b < 256; ++b) {
            if (b != '\n')
                all += char(b);
        }
        QTest::newRow("bytes 1 to 255") << "[Focus]\nCoarseStepSize=5\n" + all + "\n[Camera]\nMode=16\n" << "line 3 cannot be read";
        for (quint32 seed = 1; seed <= 4; ++seed) {
            QRandomGenerator random(seed);
            QByteArray line;
            while (line.size() < 120) {
                const char b = char(random.bounded(1, 256));
                if (b != '\n')
                    line += b;
            }
            QTest::addRow("random bytes %u", seed) << "[Focus]\nCoarseStepSize=5\n" + line + "\n[Camera]\nMode=16\n"
                                                   << "line 3 cannot be read";
        }
    }

    void unparsableFilesStayWritable()
    {
        QFETCH(QByteArray, text);
        QFETCH(QString, leftOut);
        TestRoot root;
        const std::string file = Paths::configFile().toStdString();
        // Twice in one run: a line refused once is refused again (a write that failed leaves it,
        // or another file holds it too).
        for (int meeting = 0; meeting < 2; ++meeting) {
            root.writeFile("/root/Microscope/NIMBO/NIMBO.ini", text);
            if (!leftOut.isEmpty())
                QTest::ignoreMessage(QtWarningMsg, QRegularExpression(leftOut));
            QVERIFY(WritePrivateProfileBatch({{"Focus", "FineStepSize", "0.1"}}, file));
            WritePrivateProfileString("Protocol Name", "Name", "HeLa", file);
            WriteSetting("Camera", "PreviousMode", "8", file);
            QVERIFY(NormalizePrivateProfile(file));
            QVERIFY(WritePrivateProfileBatch({{"Focus", "Knob", "1"}}, file));
            const QJsonObject parsed = parsedByPython(file);
            QCOMPARE(parsed["Focus"].toObject(), (QJsonObject{{"CoarseStepSize", "5"}, {"FineStepSize", "0.1"}, {"Knob", "1"}}));
            QCOMPARE(parsed["Camera"].toObject(), (QJsonObject{{"Mode", "16"}, {"PreviousMode", "8"}}));
            QCOMPARE(read(file, "Protocol Name", "Name"), std::string("HeLa"));
            QVERIFY(!contents(file).startsWith("\xEF\xBB\xBF"));
        }
    }

    // Numbers of the configuration file are held to their keys' ranges: outside, or not a number,
    // they read as the key's default (result 0) and are logged. Texts, and other files, are read
    // as they stand.
    void configurationNumbersHeldToTheirRanges_data()
    {
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value");
        QTest::addColumn<bool>("kept");
        QTest::newRow("coarse step 100") << "Focus" << "CoarseStepSize" << "100" << true;
        QTest::newRow("coarse step huge") << "Focus" << "CoarseStepSize" << "2147483647" << false;
        QTest::newRow("coarse step negative") << "Focus" << "CoarseStepSize" << "-5" << false;
        QTest::newRow("coarse step text") << "Focus" << "CoarseStepSize" << "ten" << false;
        QTest::newRow("coarse step real") << "Focus" << "CoarseStepSize" << "1e10" << false;
        QTest::newRow("fine step 0.05") << "Focus" << "FineStepSize" << " 0.05 " << true;
        QTest::newRow("fine step 1e10") << "Focus" << "FineStepSize" << "1e10" << false;
        QTest::newRow("fine step nan") << "Focus" << "FineStepSize" << "nan" << false;
        QTest::newRow("empty memory") << "FocusMemory" << "3" << "-1" << true;
        QTest::newRow("memory below") << "FocusMemory" << "3" << "-2" << false;
        QTest::newRow("filter gain") << "Filter_2" << "Gain" << "22" << false;
        QTest::newRow("serial text") << "NIMBO" << "Serial" << "2147483647" << true;
        QTest::newRow("previous mode 99") << "Camera" << "PreviousMode" << "99" << false;
        // Every check box of the file holds 0 or 1 and nothing else, whatever the table says.
        const char *flags[][2] = {{"Camera", "SaturatedPixel"},      {"Camera", "HotPixelEnable"},
                                  {"Focus", "Knob"},                 {"LensPos", "Enable"},
                                  {"Setting_MultiColor", "Autosave"}, {"Setting_Timelapse", "Correction"},
                                  {"Setting_Growth", "Dilate"},      {"Setting_Misc", "ShowStartDlg"},
                                  {"LicenseAgreement", "Accepted"}};
        for (const auto &flag : flags) {
            for (const char *value : {"0", "1", "2", "-1"})
                QTest::addRow("%s %s %s", flag[0], flag[1], value) << flag[0] << flag[1] << value << (value[0] != '-' && value[0] < '2');
        }
    }

    void configurationNumbersHeldToTheirRanges()
    {
        QFETCH(QString, section);
        QFETCH(QString, key);
        QFETCH(QString, value);
        QFETCH(bool, kept);
        TestRoot root;
        const QByteArray text = QString("[%1]\n%2=%3\n").arg(section, key, value).toUtf8();
        const std::string config = root.writeFile("/root/Microscope/NIMBO/NIMBO.ini", text).toStdString();
        const std::string other = root.writeFile("/root/Microscope/Microscope.ini", text).toStdString();
        const QString def = tableDefault(section.toStdString(), key.toStdString());
        if (!kept)
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QRegularExpression::escape(QString("[%1] %2=").arg(section, key))
                                                                  + ".*the default " + def + " is used"));
        int result = -1;
        QCOMPARE(QString::fromStdString(read(config, section.toStdString(), key.toStdString(), "d", &result)),
                 kept ? value.trimmed() : def);
        QCOMPARE(result, int(kept));
        QCOMPARE(QString::fromStdString(read(other, section.toStdString(), key.toStdString(), "d")), value.trimmed());
    }

    // [Camera] PreviousMode reads as [Camera] Mode when it is missing, empty or refused, and Mode
    // as its own default when it is refused too.
    void previousModeFallsBackToMode_data()
    {
        QTest::addColumn<QString>("previous"); // "<missing>": not in the file
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QString>("expected");
        QTest::newRow("missing") << "<missing>" << "16" << "16";
        QTest::newRow("empty") << "" << "16" << "16";
        QTest::newRow("refused") << "99" << "16" << "16";
        QTest::newRow("kept") << "12" << "16" << "12";
        QTest::newRow("both refused") << "x" << "abc" << "8";
        QTest::newRow("neither") << "<missing>" << "<missing>" << "8";
    }

    void previousModeFallsBackToMode()
    {
        QFETCH(QString, previous);
        QFETCH(QString, mode);
        QFETCH(QString, expected);
        TestRoot root;
        QByteArray text = "[Camera]\n";
        for (const auto &key : {qMakePair(QString("PreviousMode"), previous), qMakePair(QString("Mode"), mode)}) {
            if (key.second != "<missing>")
                text += (key.first + "=" + key.second + "\n").toUtf8();
        }
        const std::string file = root.writeFile("/root/Microscope/NIMBO/NIMBO.ini", text).toStdString();
        QCOMPARE(QString::fromStdString(read(file, "Camera", "PreviousMode", "")), expected);
    }

    // Every key of the configuration table reads as its one default whatever the reader offers as
    // its own: missing, empty, outside its range or not a number; a value in range stands. Each
    // bad value is logged once however often it is read.
    void everyTableKeyHasOneDefault()
    {
        TestRoot root;
        const std::string file = root.writeFile("/root/Microscope/NIMBO/NIMBO.ini", "").toStdString();
        KeyRanges::forgetLogged();
        static QStringList warnings;
        warnings.clear();
        const QtMessageHandler previous = qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &, const QString &text) {
            if (type == QtWarningMsg)
                warnings << text;
        });
        int checked = 0;
        for (const KeyRanges::Range &range : KeyRanges::configuration().ranges()) {
            const QString section = QString(range.section).replace('*', "2"), key = QString(range.key).replace('*', "3");
            const QString def = tableDefault(section.toStdString(), key.toStdString());
            QVERIFY2(!def.isEmpty(), qPrintable(QString("[%1] %2 names no default").arg(section, key)));
            const QString above = QString::number(range.kind == KeyRanges::Number ? range.max * 2 + 1 : range.max + 1, 'g', 12);
            const QString below = QString::number(range.min - 1, 'g', 12);
            const QString inRange = QString::number(range.min, 'g', 12);
            const QList<QPair<QString, QString>> values = {
                {"<missing>", def}, {"", def}, {above, def}, {below, def}, {"x1", def}, {inRange, inRange}};
            for (const auto &value : values) {
                // Written through the writer, which makes each rewrite show as a change to QSettings.
                if (value.first == "<missing>")
                    root.writeFile("/root/Microscope/NIMBO/NIMBO.ini", "");
                else
                    WritePrivateProfileString(section.toStdString(), key.toStdString(), value.first.toStdString(), file);
                for (int readTwice = 0; readTwice < 2; ++readTwice) {
                    const QString got = QString::fromStdString(read(file, section.toStdString(), key.toStdString(), "reader's own"));
                    QVERIFY2(got == value.second, qPrintable(QString("[%1] %2=%3 reads %4, not %5")
                                                                 .arg(section, key, value.first, got, value.second)));
                }
                const QString logged = QString("[%1] %2=%3 ").arg(section, key, value.first);
                const QStringList lines = warnings.filter(logged);
                const bool bad = value.first != "<missing>" && value.first != inRange
                                 && !(range.defKey && value.first.trimmed().isEmpty()); // PreviousMode: empty is none
                QVERIFY2(lines.size() == (bad ? 1 : 0), qPrintable(QString("%1 logged %2 times").arg(logged).arg(lines.size())));
                // The log names the default that is used.
                QVERIFY2(!bad || lines.first().endsWith("; the default " + def + " is used"), qPrintable(lines.value(0)));
            }
            ++checked;
        }
        qInstallMessageHandler(previous);
        QVERIFY(checked > 60);
    }
};

QTEST_GUILESS_MAIN(TestPrivateProfile)
#include "tst_privateprofile.moc"
