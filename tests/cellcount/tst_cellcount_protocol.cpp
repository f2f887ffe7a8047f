#include "CellCount.h"
#include "CountToolProtocol.h"
#include "DialogRunner.h"
#include "Paths.h"
#include "PrivateProfile.h"
#include "ProtocolFile.h"
#include "DialogScripts.h"
#include "MessageDlg.h"
#include "NewProtocolDlg.h"
#include "ProtocolDialogScripts.h"
#include "ProtocolEditorSupport.h"
#include "ProtocolDlg.h"
#include "ProtocolFixture.h"

#include <QDoubleSpinBox>
#include <QLabel>
#include <QSpinBox>
#include <QListWidget>
#include <QPushButton>

#include <QtTest>

using Fields = QMap<QString, double>; // "group/key" -> value
using namespace ProtocolDialogScripts;

namespace {

QStringList listed(QDialog &dlg)
{
    QStringList names;
    auto *list = dlg.findChild<QListWidget *>("LIST_PROTOCOL");
    for (int i = 0; i < list->count(); ++i)
        names << list->item(i)->text();
    return names;
}

QString currentItem(QDialog &dlg)
{
    auto *item = dlg.findChild<QListWidget *>("LIST_PROTOCOL")->currentItem();
    return item ? item->text() : QString("(none)");
}

QString label(QDialog &dlg, const QString &name) { return dlg.findChild<QLabel *>("LABEL_" + name)->text(); }

bool editMode(QDialog &dlg) { return dlg.findChild<QPushButton *>("BUTTON_ROUNDNESS_UP")->isEnabled(); }

QString configuredName()
{
    std::string name;
    ReadPrivateProfileString("Protocol Name", "Name", "(none)", name, Paths::configFile().toStdString());
    return QString::fromStdString(name);
}

Fields fieldsOf(const nimbo_protocol_t &p)
{
    Fields f;
    for (const ProtocolFile::Key &k : ProtocolFile::keys())
        f[QString("%1/%2").arg(k.group, k.key)] = k.value(p);
    return f;
}

// The values a reader gives for a file without any key: each key's fall-back of that reader.
Fields fallBacks(ProtocolFile::Reader reader)
{
    Fields f;
    for (const ProtocolFile::Key &k : ProtocolFile::keys())
        f[QString("%1/%2").arg(k.group, k.key)] =
            QByteArray(reader == ProtocolFile::Reader::Count ? k.fallBack : k.editorFallBack).toDouble();
    return f;
}

void compareFields(const Fields &actual, const Fields &expected)
{
    for (auto it = expected.begin(); it != expected.end(); ++it)
        QVERIFY2(qAbs(actual.value(it.key()) - it.value()) < 1e-6,
                 qPrintable(QString("%1: %2 instead of %3").arg(it.key()).arg(actual.value(it.key())).arg(it.value())));
}

} // namespace

class TestCellCountProtocol : public QObject
{
    Q_OBJECT
    std::unique_ptr<ProtocolFixture> m_Fix;

private slots:
    void init() { m_Fix = std::make_unique<ProtocolFixture>(); }
    void cleanup()
    {
        DialogRunner::clearScripts();
        DialogRunner::setStandingScript({});
        DialogRunner::clearLog();
        // The keyboard's edit line fades its clear button with animations that delete themselves later.
        QTest::qWait(200);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        m_Fix.reset();
    }

    // The writer's file as another INI reader sees it: 22 keys, groups with spaces as spaces, the
    // stored precisions; both readers give the written values back at that precision.
    void writtenFileReadsBack()
    {
        const std::string path = ProtocolFile::pathOf("HeLa 2");
        QCOMPARE(QString::fromStdString(path), m_Fix->fileOf("HeLa 2"));
        const nimbo_protocol_t p = ProtocolFixture::distinctProtocol();
        QVERIFY(ProtocolFile::write(path, p));
        const QStringList expected{
            "Dilution Factor/Factor=7",          "InSide_Detection/MustDetect_intensity=159",
            "InSide_Detection/max_size=70",      "InSide_Detection/min_size=2",
            "InSide_Detection/threshold_offset=12", "Noise_Reduction/NR_kernel_size=5",
            "Noise_Reduction/OutSide_gain=3.46", "Noise_Reduction/OutSide_kernel_size=41",
            "OutSide_Detection/max_size=8888",   "OutSide_Detection/min_size=11",
            "OutSide_Detection/threshold_offset=-15", "Post_Filtering/Cluster_distance=8",
            "Post_Filtering/DeCluster_tolerance=0.4", "Post_Filtering/Roundness=40.0",
            "Post_Filtering/max_intensity=250",  "Post_Filtering/max_size=44",
            "Post_Filtering/min_intensity=9",    "Post_Filtering/min_size=6",
            "Viability/center_range=0.15",       "Viability/intensity_ratio=1.3",
            "Viability/min_intensity=95",        "Viability/whole_range=0.65"};
        QCOMPARE(ProtocolFixture::parsed(m_Fix->fileOf("HeLa 2")), expected);

        Fields stored = fieldsOf(p);
        stored["Noise_Reduction/OutSide_gain"] = 3.46;
        stored["Post_Filtering/Roundness"] = 40.0;
        stored["Post_Filtering/DeCluster_tolerance"] = 0.4;
        stored["Viability/intensity_ratio"] = 1.3;
        for (auto reader : {ProtocolFile::Reader::Count, ProtocolFile::Reader::Editor}) {
            nimbo_protocol_t back;
            back.name = "kept";
            ProtocolFile::read(path, back, reader);
            QCOMPARE(back.name, QString("kept")); // the name comes only from the file name
            compareFields(fieldsOf(back), stored);
        }
    }

    // Partial and odd files: a missing or empty key reads as the reader's fall-back, never as the
    // Init value; the page's reader caps MustDetect_intensity at 220, the full editor does not.
    void readersFallBacks_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<int>("reader");
        QTest::addColumn<Fields>("changes"); // differences from the reader's fall-backs
        const int count = int(ProtocolFile::Reader::Count), editor = int(ProtocolFile::Reader::Editor);
        QTest::newRow("no file") << QByteArray() << count << Fields{};
        QTest::newRow("no file, editor") << QByteArray() << editor << Fields{};
        const QByteArray partial = "[Post_Filtering]\nmax_size=40\nmin_size=\n[InSide_Detection]\nMustDetect_intensity=250\n";
        QTest::newRow("partial, 250") << partial << count
                                       << Fields{{"Post_Filtering/max_size", 40}, {"InSide_Detection/MustDetect_intensity", 220}};
        QTest::newRow("partial, 250, editor") << partial << editor
                                               << Fields{{"Post_Filtering/max_size", 40}, {"InSide_Detection/MustDetect_intensity", 250}};
        QTest::newRow("12.7, text, 164") << QByteArray("[Dilution Factor]\nFactor=12.7\n[Post_Filtering]\nRoundness=abc\n"
                                                       "[InSide_Detection]\nMustDetect_intensity=164\n")
                                         << count
                                         << Fields{{"Dilution Factor/Factor", 12},
                                                   {"Post_Filtering/Roundness", 10}, // abc: the fall-back
                                                   {"InSide_Detection/MustDetect_intensity", 164}};
        QTest::newRow("spaced group") << QByteArray("[Dilution Factor]\nFactor=20\n[Viability]\nwhole_range=0.55\n") << count
                                      << Fields{{"Dilution Factor/Factor", 20}, {"Viability/whole_range", 0.55}};
        // The protocol dialog's Up writes up to 109: read back as written, not as the fall-back.
        QTest::newRow("dialog's top factor") << QByteArray("[Dilution Factor]\nFactor=109\n") << count
                                             << Fields{{"Dilution Factor/Factor", 109}};
    }

    void readersFallBacks()
    {
        QFETCH(QByteArray, text);
        QFETCH(int, reader);
        QFETCH(Fields, changes);
        if (!text.isEmpty())
            m_Fix->writeProtocol("P", text);
        nimbo_protocol_t p; // Init values first: none may survive the reading
        ProtocolFile::read(ProtocolFile::pathOf("P"), p, ProtocolFile::Reader(reader));
        Fields expected = fallBacks(ProtocolFile::Reader(reader));
        for (auto it = changes.begin(); it != changes.end(); ++it)
            expected[it.key()] = it.value();
        compareFields(fieldsOf(p), expected);
    }

    // Init values and the two fall-back sets are three different sets.
    void initAndFallBackSets()
    {
        nimbo_protocol_t p;
        p.name = "x";
        p.path = "y";
        p.nDilutionFactor = 99;
        p.Init();
        QVERIFY(p.name.isEmpty() && p.path.empty());
        const Fields init = fieldsOf(p);
        QCOMPARE(init["OutSide_Detection/threshold_offset"], 10.0);
        QCOMPARE(init["InSide_Detection/MustDetect_intensity"], 220.0);
        QCOMPARE(init["Post_Filtering/DeCluster_tolerance"], 0.6);
        QCOMPARE(float(init["Viability/intensity_ratio"]), 1.0f);
        int differ = 0;
        const Fields count = fallBacks(ProtocolFile::Reader::Count);
        for (auto it = init.begin(); it != init.end(); ++it)
            differ += qAbs(it.value() - count[it.key()]) > 1e-6;
        QCOMPARE(differ, 12);
        QCOMPARE(fallBacks(ProtocolFile::Reader::Editor)["Post_Filtering/DeCluster_tolerance"], 0.5);
    }

    // The second engine's file: its own spaced groups, base-10 integers, Level absent, 0 or more.
    void secondEngineFile_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QList<int>>("values");
        QTest::newRow("no file") << QByteArray() << QList<int>{2, 5, 1, 60, 3, 60, 0};
        QTest::newRow("level 0") << QByteArray("[Declustering Level]\nLevel=0\n[Roundness]\nNumber=70.9\n")
                                 << QList<int>{2, 5, 1, 70, 3, 60, 0};
        QTest::newRow("level 2") << QByteArray("[Declustering Level]\nLevel=2\n[Noise Reduction]\nReduction=3\n"
                                               "[Live Cell Detection]\nValue=4\n[Min Cell Size]\nSize=5\n"
                                               "[Max Cell Size]\nSize=50\n[Dilution Factor]\nFactor=10\n")
                                 << QList<int>{10, 3, 4, 60, 5, 50, 2};
    }

    void secondEngineFile()
    {
        QFETCH(QByteArray, text);
        QFETCH(QList<int>, values);
        const std::string path = ProtocolFile::secondEnginePathOf("Yeast");
        QCOMPARE(QString::fromStdString(path), m_Fix->dir() + "/Protocol_Yeast_BF.ini");
        if (!text.isEmpty()) {
            QFile file(QString::fromStdString(path));
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(text);
        }
        protocol_t p;
        ProtocolFile::readSecondEngine(path, p);
        QCOMPARE((QList<int>{p.nDilutionFactor, p.nNoiseReduction, p.nLiveCellDetection, p.nRoundness, p.nMinCellSize,
                             p.nMaxCellSize, p.nDeclusteringLevel}),
                 values);
    }

    // A write is checked: a folder in the protocol's place refuses it.
    void writeIsChecked()
    {
        QVERIFY(QDir().mkpath(m_Fix->fileOf("Taken")));
        QVERIFY(!ProtocolFile::write(ProtocolFile::pathOf("Taken"), ProtocolFixture::distinctProtocol()));
    }

    void names_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("usable");
        QTest::newRow("plain") << "HeLa 2" << true;
        QTest::newRow("spaces kept") << " x " << true;
        QTest::newRow("dots") << ".." << true;
        QTest::newRow("parent") << "../x" << false;
        QTest::newRow("slash") << "a/b" << false;
        QTest::newRow("colon") << "a:b" << false;
        QTest::newRow("empty") << "" << false;
        QTest::newRow("236 bytes") << QString(236, 'a') << true;
        QTest::newRow("237 bytes") << QString(237, 'a') << false;
        QTest::newRow("240 characters") << QString(240, 'a') << false;
        QTest::newRow("118 two-byte") << QString(118, QChar(0xe9)) << true;
        QTest::newRow("119 two-byte") << QString(119, QChar(0xe9)) << false;
    }

    void names()
    {
        QFETCH(QString, name);
        QFETCH(bool, usable);
        QCOMPARE(ProtocolFile::isUsableName(name), usable);
    }

    // The list: natural order, DEFAULT first even without any file, files only, names that
    // cannot be stored left out.
    void listing()
    {
        QCOMPARE(ProtocolFile::listNames(), QStringList{"DEFAULT"});
        m_Fix->writeProtocol("DEFAULT", "");
        QCOMPARE(ProtocolFile::listNames(), QStringList{"DEFAULT"});
        for (const char *name : {"cell10", "cell2", "Alpha", "cell1", "a:b"})
            m_Fix->writeProtocol(name, "");
        QVERIFY(QDir().mkpath(m_Fix->fileOf("folder")));
        QCOMPARE(ProtocolFile::listNames(), (QStringList{"DEFAULT", "Alpha", "cell1", "cell2", "cell10"}));
        QFile::remove(m_Fix->fileOf("DEFAULT"));
        QCOMPARE(ProtocolFile::listNames().value(0), QString("DEFAULT"));
    }

    void conversions()
    {
        const QList<QPair<int, QString>> digits{{155, "9"}, {157, "8"}, {159, "7"}, {161, "6"}, {163, "5"}, {165, "4"},
                                                {167, "3"}, {169, "2"}, {171, "1"}, {220, "0"}, {164, "4"}, {0, "4"}};
        for (const auto &d : digits)
            QCOMPARE(CellCount::convertLiveCellSensitivity(d.first), d.second);
        const QList<QPair<int, QString>> kernels{{1, "None"}, {3, "Low"}, {5, "Medium"}, {7, "High"}, {9, "None"}};
        for (const auto &k : kernels)
            QCOMPARE(CellCount::convertDigitalFilteringToString(k.first), k.second);
    }

    // --- the protocol dialog ---

    // The list in natural order with DEFAULT first, the page's protocol selected in view mode,
    // DEFAULT even without any file; another name without a file selects nothing and shows its
    // fall-backs; an unusable name is DEFAULT.
    void dialogListAndSelection()
    {
        answerMessagesWithOk();
        {
            ProtocolDlg empty("DEFAULT");
            QCOMPARE(listed(empty), QStringList{"DEFAULT"});
            QCOMPARE(currentItem(empty), QString("DEFAULT"));
        }
        m_Fix->writeProtocol("cell10", "[Dilution Factor]\nFactor=10\n");
        m_Fix->writeProtocol("cell2", "[Dilution Factor]\nFactor=3\n[InSide_Detection]\nMustDetect_intensity=155\n"
                                      "[Post_Filtering]\nRoundness=70\nmin_size=8\nmax_size=30\n");
        ProtocolDlg dlg("cell2");
        QCOMPARE(listed(dlg), (QStringList{"DEFAULT", "cell2", "cell10"}));
        QCOMPARE(currentItem(dlg), QString("cell2"));
        QCOMPARE(dlg.size(), QSize(650, 380));
        QCOMPARE(dlg.findChild<QListWidget *>("LIST_PROTOCOL")->item(1)->sizeHint(), QSize(199, 40));
        QCOMPARE((QStringList{label(dlg, "DILUTION_FACTOR"), label(dlg, "LIVE_CELL_DETECTION"), label(dlg, "ROUNDNESS"),
                              label(dlg, "MIN_CELL_SIZE"), label(dlg, "MAX_CELL_SIZE")}),
                 (QStringList{"3", "9", "70", "8", "30"}));
        QVERIFY(!editMode(dlg));
        QVERIFY(dlg.findChild<QPushButton *>("BUTTON_ROUNDNESS_UP")->autoRepeat());
        QCOMPARE(dlg.findChild<QPushButton *>("BUTTON_ROUNDNESS_UP")->focusPolicy(), Qt::NoFocus);
        QVERIFY(dlg.findChild<QLabel *>("LABEL_THRESHOLD")->isHidden());

        dlg.findChild<QListWidget *>("LIST_PROTOCOL")->setCurrentRow(2);
        QCOMPARE(dlg.currentProtocol().name, QString("cell10"));
        QCOMPARE(label(dlg, "DILUTION_FACTOR"), QString("10"));

        ProtocolDlg gone("Gone");
        QCOMPARE(currentItem(gone), QString("(none)"));
        QCOMPARE(label(gone, "LIVE_CELL_DETECTION"), QString("4"));
        QCOMPARE(gone.currentProtocol().nOutsideKernelSize, 53); // fall-backs, not Init values
        ProtocolDlg unsafe("../cell2");
        QCOMPARE(unsafe.currentProtocol().name, QString("DEFAULT"));
        QCOMPARE(currentItem(unsafe), QString("DEFAULT"));
    }

    // The step rules at their ends.
    void dialogSteps_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("button");
        QTest::addColumn<int>("presses");
        QTest::addColumn<QString>("row");
        QTest::addColumn<QStringList>("labels"); // the label after each press
        QTest::newRow("dilution 9 up") << QByteArray("[Dilution Factor]\nFactor=9\n") << "DILUTION_FACTOR_UP" << 2 << "DILUTION_FACTOR" << QStringList{"10", "20"};
        QTest::newRow("dilution 20 down") << QByteArray("[Dilution Factor]\nFactor=20\n") << "DILUTION_FACTOR_DOWN" << 2
                                          << "DILUTION_FACTOR" << QStringList{"10", "9"};
        QTest::newRow("dilution 100 up") << QByteArray("[Dilution Factor]\nFactor=100\n") << "DILUTION_FACTOR_UP" << 1
                                         << "DILUTION_FACTOR" << QStringList{"100"};
        QTest::newRow("dilution 1 down") << QByteArray("[Dilution Factor]\nFactor=1\n") << "DILUTION_FACTOR_DOWN" << 1
                                         << "DILUTION_FACTOR" << QStringList{"1"};
        QTest::newRow("dilution 95 up") << QByteArray("[Dilution Factor]\nFactor=95\n") << "DILUTION_FACTOR_UP" << 2
                                        << "DILUTION_FACTOR" << QStringList{"105", "105"};
        const QByteArray live = "[InSide_Detection]\nMustDetect_intensity=";
        QTest::newRow("live 220 up") << live + "220\n" << "LIVE_CELL_DETECTION_UP" << 2 << "LIVE_CELL_DETECTION" << QStringList{"1", "2"};
        QTest::newRow("live 157 up") << live + "157\n" << "LIVE_CELL_DETECTION_UP" << 2 << "LIVE_CELL_DETECTION" << QStringList{"9", "9"};
        QTest::newRow("live 169 down") << live + "169\n" << "LIVE_CELL_DETECTION_DOWN" << 3 << "LIVE_CELL_DETECTION" << QStringList{"1", "0", "0"};
        QTest::newRow("live 156 up") << live + "156\n" << "LIVE_CELL_DETECTION_UP" << 2 << "LIVE_CELL_DETECTION" << QStringList{"4", "4"};
        QTest::newRow("roundness 90 up") << QByteArray("[Post_Filtering]\nRoundness=90\n") << "ROUNDNESS_UP" << 2 << "ROUNDNESS" << QStringList{"100", "100"};
        QTest::newRow("roundness 10 down") << QByteArray("[Post_Filtering]\nRoundness=10\n") << "ROUNDNESS_DOWN" << 2 << "ROUNDNESS" << QStringList{"0", "0"};
        const QByteArray sizes = "[Post_Filtering]\nmin_size=59\nmax_size=60\n";
        QTest::newRow("min 59 up") << sizes << "MIN_CELL_SIZE_UP" << 1 << "MIN_CELL_SIZE" << QStringList{"59"};
        QTest::newRow("max 60 down") << sizes << "MAX_CELL_SIZE_DOWN" << 1 << "MAX_CELL_SIZE" << QStringList{"60"};
        QTest::newRow("max 60 up") << sizes << "MAX_CELL_SIZE_UP" << 1 << "MAX_CELL_SIZE" << QStringList{"60"};
        QTest::newRow("min 2 down") << QByteArray("[Post_Filtering]\nmin_size=2\n") << "MIN_CELL_SIZE_DOWN" << 2 << "MIN_CELL_SIZE" << QStringList{"1", "1"};
    }

    void dialogSteps()
    {
        QFETCH(QByteArray, file);
        QFETCH(QString, button);
        QFETCH(int, presses);
        QFETCH(QString, row);
        QFETCH(QStringList, labels);
        answerMessagesWithOk();
        m_Fix->writeProtocol("P", file);
        ProtocolDlg dlg("P");
        auto *step = dlg.findChild<QPushButton *>("BUTTON_" + button);
        step->click(); // view mode: nothing
        const QString before = label(dlg, row);
        QVERIFY(!editMode(dlg));
        click(&dlg, "BUTTON_EDIT");
        QVERIFY(editMode(dlg));
        QStringList seen;
        for (int i = 0; i < presses; ++i) {
            step->click();
            seen << label(dlg, row);
        }
        QCOMPARE(seen, labels);
        QVERIFY(!before.isEmpty());
        QCOMPARE(m_Fix->files(), QStringList{"Protocol_P_NIMBO.ini"}); // nothing written yet
    }

    // Edit and Delete refuse DEFAULT; Save && Load commits DEFAULT too.
    void dialogDefault()
    {
        auto messages = answerMessagesWithOk();
        m_Fix->writeProtocol("A", "");
        ProtocolDlg dlg("DEFAULT");
        click(&dlg, "BUTTON_EDIT");
        click(&dlg, "BUTTON_DELETE");
        QCOMPARE(*messages, (QStringList{ProtocolEditorSupport::msgDefaultRefused, ProtocolEditorSupport::msgDefaultRefused}));
        QVERIFY(!editMode(dlg));
        click(&dlg, "BUTTON_LOAD");
        QCOMPARE(messages->last(), ProtocolEditorSupport::msgSavedAndLoaded);
        QCOMPARE(configuredName(), QString("DEFAULT"));
        QCOMPARE(ProtocolFixture::parsed(m_Fix->fileOf("DEFAULT")).size(), 22);
    }

    // Exit returns the committed protocol with its stored values: edits without Save && Load are
    // dropped, saved ones kept; a failed save changes nothing and says so.
    void dialogCommitAndExit()
    {
        auto messages = answerMessagesWithOk();
        m_Fix->writeProtocol("A", "[Dilution Factor]\nFactor=4\n");
        m_Fix->writeProtocol("B", "[Dilution Factor]\nFactor=6\n");
        {
            ProtocolDlg dlg("A");
            click(&dlg, "BUTTON_EDIT");
            click(&dlg, "BUTTON_DILUTION_FACTOR_UP");
            QCOMPARE(dlg.currentProtocol().nDilutionFactor, 5);
            dlg.findChild<QListWidget *>("LIST_PROTOCOL")->setCurrentRow(2); // B, edits of A dropped
            click(&dlg, "BUTTON_HOME");
            QCOMPARE(dlg.currentProtocol().name, QString("A"));
            QCOMPARE(dlg.currentProtocol().nDilutionFactor, 4);
            QCOMPARE(configuredName(), QString("(none)"));
        }
        {
            ProtocolDlg dlg("A");
            dlg.findChild<QListWidget *>("LIST_PROTOCOL")->setCurrentRow(2);
            click(&dlg, "BUTTON_EDIT");
            click(&dlg, "BUTTON_DILUTION_FACTOR_UP");
            click(&dlg, "BUTTON_LOAD");
            QCOMPARE(messages->last(), ProtocolEditorSupport::msgSavedAndLoaded);
            QVERIFY(!editMode(dlg));
            click(&dlg, "BUTTON_HOME");
            QCOMPARE(dlg.currentProtocol().name, QString("B"));
            QCOMPARE(dlg.currentProtocol().nDilutionFactor, 7);
            QCOMPARE(configuredName(), QString("B"));
            QVERIFY(ProtocolFixture::parsed(m_Fix->fileOf("B")).contains("Dilution Factor/Factor=7"));
        }
        QVERIFY(QDir().mkpath(m_Fix->fileOf("Taken"))); // a folder where the file should be
        {
            ProtocolDlg dlg("Taken");
            click(&dlg, "BUTTON_EDIT");
            click(&dlg, "BUTTON_LOAD");
            QCOMPARE(messages->last(), ProtocolEditorSupport::msgNotSaved);
            QCOMPARE(configuredName(), QString("B"));
            QVERIFY(editMode(dlg));
        }
    }

    // Save as: a new file under the typed name (spaces kept), the list refreshed and the shown
    // protocol still selected; refused names write nothing anywhere.
    void dialogSaveAs_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("message"); // empty: accepted
        QTest::newRow("new") << "New 2" << QString();
        QTest::newRow("spaces kept") << " spaced " << QString();
        QTest::newRow("default") << "default" << ProtocolEditorSupport::msgDefaultRefused;
        QTest::newRow(" Default ") << " Default " << ProtocolEditorSupport::msgDefaultRefused;
        QTest::newRow("../x") << "../x" << MessageDlg::presetText(MSG_INVALID_NAME_CHARS);
        QTest::newRow("a/b") << "a/b" << MessageDlg::presetText(MSG_INVALID_NAME_CHARS);
        QTest::newRow("240 characters") << QString(240, 'a') << ProtocolEditorSupport::msgNameTooLong;
        QTest::newRow("folder in the way") << "Taken" << ProtocolEditorSupport::msgNotSaved;
    }

    void dialogSaveAs()
    {
        QFETCH(QString, name);
        QFETCH(QString, message);
        auto messages = answerMessagesWithOk();
        m_Fix->writeProtocol("A", "[Dilution Factor]\nFactor=4\n");
        QVERIFY(QDir().mkpath(m_Fix->fileOf("Taken")));
        ProtocolDlg dlg("A");
        click(&dlg, "BUTTON_EDIT");
        click(&dlg, "BUTTON_DILUTION_FACTOR_UP");
        const QStringList before = m_Fix->allFiles();
        pushKeyboardEntry(name);
        click(&dlg, "BUTTON_SAVE_AS");
        QCOMPARE(DialogRunner::pendingScripts(), 0);
        if (!message.isEmpty()) {
            QCOMPARE(*messages, QStringList{message});
            QCOMPARE(m_Fix->allFiles(), before);
            QCOMPARE(listed(dlg), (QStringList{"DEFAULT", "A"}));
            return;
        }
        QVERIFY(messages->isEmpty());
        QCOMPARE(listed(dlg).size(), 3);
        QVERIFY(listed(dlg).contains(name));
        QCOMPARE(currentItem(dlg), QString("A"));
        QCOMPARE(dlg.currentProtocol().nDilutionFactor, 4); // reloaded from A's file
        QVERIFY(!editMode(dlg));
        QVERIFY(ProtocolFixture::parsed(m_Fix->fileOf(name)).contains("Dilution Factor/Factor=5"));
    }

    // 299 items take one more; 300 refuse.
    void dialogListFull()
    {
        auto messages = answerMessagesWithOk();
        for (int i = 1; i <= 298; ++i)
            m_Fix->writeProtocol(QString("p%1").arg(i), "");
        ProtocolDlg dlg("p1");
        QCOMPARE(listed(dlg).size(), 299);
        pushKeyboardEntry("last");
        click(&dlg, "BUTTON_SAVE_AS");
        QCOMPARE(listed(dlg).size(), 300);
        click(&dlg, "BUTTON_SAVE_AS"); // no keyboard: refused at once
        QCOMPARE(*messages, QStringList{ProtocolEditorSupport::msgListFull});
        QCOMPARE(listed(dlg).size(), 300);
    }

    // Delete asks; OK removes the file and selects DEFAULT (committed too); the last protocol
    // without a DEFAULT file leaves DEFAULT alone in the list, with the fall-backs.
    void dialogDelete()
    {
        auto messages = answerMessagesWithOk();
        m_Fix->writeProtocol("A", "[Dilution Factor]\nFactor=4\n");
        ProtocolDlg dlg("A");
        DialogScripts::pushAnswer(0);
        click(&dlg, "BUTTON_DELETE");
        QVERIFY(QFile::exists(m_Fix->fileOf("A")));
        click(&dlg, "BUTTON_DELETE");
        QCOMPARE(*messages, QStringList{ProtocolEditorSupport::msgConfirmDelete});
        QVERIFY(!QFile::exists(m_Fix->fileOf("A")));
        QCOMPARE(listed(dlg), QStringList{"DEFAULT"});
        QCOMPARE(dlg.currentProtocol().name, QString("DEFAULT"));
        QCOMPARE(dlg.currentProtocol().nDilutionFactor, 2);
        click(&dlg, "BUTTON_HOME");
        QCOMPARE(dlg.currentProtocol().name, QString("DEFAULT"));
        QVERIFY(m_Fix->files().isEmpty());
    }

    // --- the full editor ---

    // Its own fall-backs, no limit at 220, a value outside its control's range read as the fall-back
    // and written back as shown; Load commits; Edit unlocks every value but DEFAULT's.
    void fullEditorValues()
    {
        auto messages = answerMessagesWithOk();
        m_Fix->writeProtocol("A", "[InSide_Detection]\nMustDetect_intensity=250\n[Dilution Factor]\nFactor=500\n");
        NewProtocolDlg dlg("A");
        QCOMPARE(dlg.size(), QSize(842, 480));
        QCOMPARE(currentItem(dlg), QString("A"));
        QCOMPARE(dlg.findChild<QSpinBox *>("InSide_MustDetect_Intensity_spinBox")->value(), 250);
        QCOMPARE(dlg.findChild<QDoubleSpinBox *>("DeCluster_tolerance_spinBox")->value(), 0.5);
        QCOMPARE(dlg.findChild<QSpinBox *>("Dilution_Factor_spinBox")->value(), 2);
        QCOMPARE(dlg.findChild<QSpinBox *>("NR_kernelSize_spinBox")->singleStep(), 2);
        QCOMPARE(dlg.findChildren<QAbstractSpinBox *>().size(), 22);
        QVERIFY(dlg.findChild<QSpinBox *>("Cluster_distance_spinBox")->isReadOnly());

        click(&dlg, "BUTTON_EDIT");
        QVERIFY(!dlg.findChild<QSpinBox *>("Cluster_distance_spinBox")->isReadOnly());
        dlg.findChild<QDoubleSpinBox *>("Viability_CenterRange_spinBox")->setValue(0.35);
        click(&dlg, "BUTTON_LOAD");
        QCOMPARE(*messages, QStringList{ProtocolEditorSupport::msgLoaded});
        QCOMPARE(configuredName(), QString("A"));
        const QStringList stored = ProtocolFixture::parsed(m_Fix->fileOf("A"));
        QCOMPARE(stored.size(), 22);
        for (const char *line : {"Dilution Factor/Factor=2", "InSide_Detection/MustDetect_intensity=250",
                                 "Viability/center_range=0.35", "Post_Filtering/DeCluster_tolerance=0.5"})
            QVERIFY2(stored.contains(line), line);
        QVERIFY(dlg.findChild<QSpinBox *>("Cluster_distance_spinBox")->isReadOnly());

        dlg.findChild<QListWidget *>("LIST_PROTOCOL")->setCurrentRow(0);
        click(&dlg, "BUTTON_EDIT");
        QCOMPARE(messages->last(), ProtocolEditorSupport::msgDefaultRefused);
        QVERIFY(dlg.findChild<QSpinBox *>("Cluster_distance_spinBox")->isReadOnly());
        QCOMPARE(dlg.findChild<QSpinBox *>("InSide_MustDetect_Intensity_spinBox")->value(), 220);
    }

    // Save as refuses DEFAULT in any case and unsafe names, writes nothing then; Delete asks
    // first, then refuses DEFAULT; deleting a protocol selects DEFAULT.
    void fullEditorFiles()
    {
        auto messages = answerMessagesWithOk();
        NewProtocolDlg empty("DEFAULT");
        QCOMPARE(listed(empty), QStringList{"DEFAULT"});
        m_Fix->writeProtocol("A", "[Dilution Factor]\nFactor=4\n");
        NewProtocolDlg dlg("A");
        const QStringList before = m_Fix->allFiles();
        for (const QString &name : {QString("dEfAuLt"), QString("../x"), QString(240, 'b')}) {
            pushKeyboardEntry(name);
            click(&dlg, "BUTTON_SAVE_AS");
        }
        QCOMPARE(*messages, (QStringList{ProtocolEditorSupport::msgDefaultRefused, MessageDlg::presetText(MSG_INVALID_NAME_CHARS),
                                         ProtocolEditorSupport::msgNameTooLong}));
        QCOMPARE(m_Fix->allFiles(), before);
        pushKeyboardEntry("B");
        click(&dlg, "BUTTON_SAVE_AS");
        QCOMPARE(listed(dlg), (QStringList{"DEFAULT", "A", "B"}));
        QCOMPARE(currentItem(dlg), QString("A"));
        QVERIFY(ProtocolFixture::parsed(m_Fix->fileOf("B")).contains("Dilution Factor/Factor=4"));

        messages->clear();
        dlg.findChild<QListWidget *>("LIST_PROTOCOL")->setCurrentRow(0);
        click(&dlg, "BUTTON_DELETE");
        QCOMPARE(*messages, (QStringList{ProtocolEditorSupport::msgConfirmDelete, ProtocolEditorSupport::msgDefaultRefused}));
        dlg.findChild<QListWidget *>("LIST_PROTOCOL")->setCurrentRow(2);
        DialogScripts::pushAnswer(0);
        click(&dlg, "BUTTON_DELETE");
        QVERIFY(QFile::exists(m_Fix->fileOf("B")));
        click(&dlg, "BUTTON_DELETE");
        QVERIFY(!QFile::exists(m_Fix->fileOf("B")));
        QCOMPARE(listed(dlg), (QStringList{"DEFAULT", "A"}));
        QCOMPARE(dlg.protocol().name, QString("DEFAULT"));
        QCOMPARE(currentItem(dlg), QString("DEFAULT"));
    }

    // The counting tool reads either file with both readers: each takes its own groups and its
    // fall-backs for the rest; the dilution factor is the one key the two formats share.
    void countToolReadsBothFormats()
    {
        m_Fix->writeProtocol("A", "[Dilution Factor]\nFactor=3\n[InSide_Detection]\nMustDetect_intensity=250\n"
                                  "[Post_Filtering]\nRoundness=40\nmin_size=7\n");
        const QString bf = m_Fix->dir() + "/Protocol_A_BF.ini";
        QFile file(bf);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("[Dilution Factor]\nFactor=5\n[Declustering Level]\nLevel=2\n[Min Cell Size]\nSize=4\n");
        file.close();

        CountTool::Protocol own, second;
        QVERIFY(CountToolProtocol::read(m_Fix->fileOf("A"), own, nullptr));
        QCOMPARE((QList<double>{double(own.dilutionFactor), double(own.mustDetectIntensity), double(own.roundness),
                                double(own.minSizeUm), double(own.maxSizeUm)}),
                 (QList<double>{3, 220, 40, 7, 60}));
        QCOMPARE((QList<int>{own.secondEngine.nDilutionFactor, own.secondEngine.nDeclusteringLevel,
                             own.secondEngine.nMinCellSize, own.secondEngine.nRoundness}),
                 (QList<int>{3, 0, 3, 60}));
        QVERIFY(CountToolProtocol::read(bf, second, nullptr));
        QCOMPARE((QList<double>{double(second.dilutionFactor), double(second.mustDetectIntensity), double(second.roundness),
                                double(second.minSizeUm)}),
                 (QList<double>{5, 165, 10, 5}));
        QCOMPARE((QList<int>{second.secondEngine.nDilutionFactor, second.secondEngine.nDeclusteringLevel,
                             second.secondEngine.nMinCellSize, second.secondEngine.nNoiseReduction}),
                 (QList<int>{5, 2, 4, 5}));
        QString why;
        QVERIFY(!CountToolProtocol::read(m_Fix->dir() + "/none.ini", own, &why));
        QVERIFY(why.contains("cannot read the protocol file"));
    }

    void declusteringConversions()
    {
        for (const auto &c : QList<QPair<int, QString>>{{10, "Low"}, {30, "Medium"}, {100, "High"}, {0, "None"}, {20, "None"}}) {
            QCOMPARE(convertDeclusteringLevelToString(c.first), c.second);
            QCOMPARE(convertDeclusteringLevelToInt(c.second), c.second == "None" ? 0 : c.first);
        }
        QCOMPARE(convertDeclusteringLevelToInt("low"), 0);
    }
};

QTEST_MAIN(TestCellCountProtocol)
#include "tst_cellcount_protocol.moc"
