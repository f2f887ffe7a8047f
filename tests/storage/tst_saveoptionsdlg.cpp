#include "CSVReaderWriter.h"
#include "DialogRunner.h"
#include "Globals.h"
#include "ImReaderWriter.h"
#include "Paths.h"
#include "PrivateProfile.h"
#include "SaveDlgUser.h"
#include "SaveOptionsDlg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileSystemModel>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QtTest>

namespace {

// The visible controls as "key:flags": e enabled, x ticked, o unticked, L locked against the mouse.
QString controls(SaveOptionsDlg &dialog)
{
    QStringList out;
    for (const char *key : {"F:CHECKBOX_SAVE_AS_FOLDER", "M:RADIO_COLOR_MONOCHROME", "P:RADIO_COLOR_PSEUDO_COLOR",
                            "C:COMB_FILTER_COLOR", "0:CHKBOX_FILTER_POSITION0", "O:CHKBOX_OVERLAY",
                            "A:CHKBOX_SAVE_WITH_ANNOTATION", "R:CHKBOX_RAW", "T:CHKBOX_RESULT", "S:CHKBOX_SEGMENTATION",
                            "SA:BUTTON_CHANNEL_SELECTALL"}) {
        QWidget *widget = dialog.findChild<QWidget *>(strchr(key, ':') + 1);
        auto *button = qobject_cast<QAbstractButton *>(widget);
        if (widget->isVisibleTo(&dialog))
            out << QString(key).section(':', 0, 0) + ':' + (widget->isEnabled() ? "e" : "-")
                    + (button && button->isCheckable() ? (button->isChecked() ? "x" : "o") : "")
                    + (widget->testAttribute(Qt::WA_TransparentForMouseEvents) ? "L" : "");
    }
    return out.join(' ');
}

void setConfig(const char *section, const char *key, const QString &value)
{
    WritePrivateProfileString(section, key, value.toStdString(), Paths::configFile().toStdString());
}

} // namespace

class TestSaveOptionsDlg : public QObject
{
    Q_OBJECT
private slots:
    void optionControls_data()
    {
        QTest::addColumn<int>("option");
        QTest::addColumn<int>("sub");
        QTest::addColumn<bool>("pseudo");
        QTest::addColumn<bool>("quick");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<QString>("formats"); // 8 bits | 16 bits
        const QString four = "*.tif *.png *.jpg *.bmp|*.tif", multi = " 0:-o O:-o A:-o SA:e";
        QTest::newRow("0") << 0 << 0 << true << false << "F:eo M:ex P:eo" + multi << four;
        QTest::newRow("0 quick, channel view") << 0 << 0 << true << true << "F:eo M:eo P:ex" + multi << four;
        QTest::newRow("0 quick, overlay view") << 0 << 1 << true << true << "F:eo M:ex P:eo" + multi << four;
        QTest::newRow("1") << 1 << 0 << true << false << "F:exL M:ex P:eo" << four;
        QTest::newRow("3") << 3 << 0 << true << false << "" << ".csv|.csv";
        QTest::newRow("4") << 4 << 0 << true << false << "F:eo M:ex P:eo A:-o" << four;
        QTest::newRow("5 save") << 5 << 2 << false << false << "F:eo M:ex P:-o R:ex T:ex S:ex SA:e" << four;
        QTest::newRow("5 rendered") << 5 << 3 << true << false << "F:eo M:eo P:ex R:ex T:ex S:-o SA:e" << four;
        QTest::newRow("6 no raw") << 6 << 0 << false << false << "F:exL M:-x P:-o R:-o T:ex S:ex SA:-" << four;
        QTest::newRow("7") << 7 << 0 << true << false << "F:exL" << ".tif|.tif";
        QTest::newRow("10") << 10 << 0 << true << false << "F:exL M:ex P:eo C:e" << ".tif|.tif";
    }
    void optionControls()
    {
        QFETCH(int, option);
        QFETCH(int, sub);
        QFETCH(bool, pseudo);
        QFETCH(bool, quick);
        SaveDlgUser user;
        SaveOptionsDlg dialog(nullptr, quick);
        dialog.setCurrentSaveOption(TSaveOption(option), pseudo, TSubOption(sub));
        QTEST(controls(dialog), "expected");
        auto *combo = dialog.findChild<QComboBox *>("COMBO_IMAGE_FORMAT");
        QStringList formats;
        for (int bits : {8, 16}) {
            dialog.setImageBits(bits);
            formats << QString();
            for (int i = 0; i < combo->count(); ++i)
                formats.last() += (i ? " " : "") + combo->itemText(i);
        }
        QTEST(formats.join('|'), "formats");
    }

    // Channel 1 enables the box at position 3, labelled from [Filter]; Select All leaves the boxes
    // of channels not captured alone; the single page's annotated image is offered unticked; the
    // pseudo colour takes 0 to 4 and 7 only; colour and folder choices are the next dialog's start.
    void channelsColourAndRememberedChoices()
    {
        SaveDlgUser user;
        setConfig("Filter", "1", "Brightfield");
        unsigned char frame = 0;
        {
            SaveOptionsDlg dialog;
            dialog.setCurrentSaveOption(SAVE_OPTION_MULTICOLOR, false);
            dialog.setImageData8(1, &frame);
            dialog.m_nViewIndex = 2;
            dialog.setOverlayImageData24(&frame);
            auto *position3 = dialog.findChild<QCheckBox *>("CHKBOX_FILTER_POSITION3");
            QVERIFY(position3->isEnabled() && position3->isChecked());
            QCOMPARE(dialog.findChild<QCheckBox *>("CHKBOX_FILTER_POSITION1")->text(), QString("Brigh"));
            DialogRunner::click(&dialog, "BUTTON_CHANNEL_SELECTALL");
            QCOMPARE(controls(dialog), QString("F:eo M:ex P:eo 0:-o O:ex A:-o SA:e"));
            DialogRunner::click(&dialog, "BUTTON_CHANNEL_RELEASEALL");
            QVERIFY(!position3->isChecked());

            SaveOptionsDlg single;
            single.setCurrentSaveOption(SAVE_OPTION_SINGLE, true);
            single.setAnnotationImageData(&frame);
            QCOMPARE(controls(single), QString("F:eo M:ex P:eo A:eo"));
            for (auto [index, shown] : QList<QPair<int, int>>{{0, 0}, {4, 4}, {7, 5}, {5, 5}, {6, 5}, {-1, 5}, {9, 5}}) {
                single.setFilterColorIndex(index);
                QCOMPARE(single.findChild<QComboBox *>("COMB_FILTER_COLOR")->currentIndex(), shown);
            }
            single.findChild<QAbstractButton *>("RADIO_COLOR_PSEUDO_COLOR")->click();
            single.findChild<QAbstractButton *>("CHECKBOX_SAVE_AS_FOLDER")->click();
        }
        SaveOptionsDlg next;
        next.setCurrentSaveOption(SAVE_OPTION_MULTICOLOR, true);
        QCOMPARE(controls(next), QString("F:ex M:eo P:ex 0:-o O:-o A:-o SA:e"));
    }

    void metadata_data()
    {
        QTest::addColumn<int>("option");
        QTest::addColumn<int>("channel");
        QTest::addColumn<QString>("firmware");
        QTest::addColumn<QString>("light");
        QTest::addColumn<QString>("expected");
        QTest::newRow("no firmware") << 5 << 0 << "" << "Light: 50 %" << "Light: 50 %";
        QTest::newRow("firmware 2.5") << 5 << 0 << "2.5" << "Light: 50 %" << "Light: 50 %";
        QTest::newRow("firmware 2.5.1") << 5 << 0 << "2.5.1" << "Light: 55%" << "Light: 5.5 %";
        QTest::newRow("two colons") << 5 << 0 << "2.6" << "Light: 5:0 %" << "Light: 5:0 %";
        QTest::newRow("channel 1") << 5 << 1 << "2.6" << "Light: 50 %" << "Light: 50 %";
        QTest::newRow("single page") << 4 << 0 << "2.6" << "Light: 50 %" << "Light: 50 %";
    }
    void metadata()
    {
        QFETCH(int, option);
        QFETCH(int, channel);
        QFETCH(QString, firmware);
        SaveDlgUser user;
        setConfig("NIMBO", "Firmware", firmware);
        const TCapturedImageMetaData saved = g_CapturedImageMetaData;
        g_CapturedImageMetaData.channel = channel;
        QFETCH(QString, light);
        g_CapturedImageMetaData.light[channel] = light;
        SaveOptionsDlg dialog;
        dialog.setCurrentSaveOption(TSaveOption(option), true);
        dialog.generateCapturedImageMetaData();
        g_CapturedImageMetaData = saved;
        const QStringList fields = QString::fromUtf8(dialog.capturedImageMetaData()).split(';');
        QVERIFY(fields.size() == 9 && fields[0] == saved.instrument);
        QTEST(fields[6], "expected");
    }

    void overlayMetadata_data()
    {
        QTest::addColumn<QString>("expected"); // for the flags that open the row's name
        QTest::newRow("TTFF") << "I;S;V;C;f0;o0;l0;e0;g0;;f1;o1;l1;e1;g1";
        QTest::newRow("TFTF") << "I;S;V;C;f0;o0;l0;e0;g0;;;;f2;o2;l2;e2;g2";
        QTest::newRow("FFTF, one flag") << "I;S;V;C;f2;o2;l2;e2;g2";
        QTest::newRow("FFFF, none") << "I;S;V;C;";
    }
    void overlayMetadata()
    {
        const char *flags = QTest::currentDataTag();
        SaveDlgUser user;
        const TCapturedImageMetaData saved = g_CapturedImageMetaData;
        TCapturedImageMetaData &meta = g_CapturedImageMetaData = {0, "I", "S", "V", "C"};
        bool set[4];
        for (int c = 0; c < 4; ++c) {
            for (auto [field, key] : {std::make_pair(meta.filterCube, 'f'), {meta.objective, 'o'}, {meta.light, 'l'},
                                      {meta.exposure, 'e'}, {meta.gain, 'g'}})
                field[c] = key + QString::number(c);
            set[c] = flags[c] == 'T';
        }
        SaveOptionsDlg dialog;
        dialog.generateOverlayImageMetaData(set);
        g_CapturedImageMetaData = saved;
        QTEST(QString::fromUtf8(dialog.overlayImageMetaData()), "expected");
    }

    void naming_data()
    {
        QTest::addColumn<QStringList>("existing"); // folders end in "/"
        QTest::addColumn<QString>("request");
        QTest::addColumn<QString>("expected");
        QTest::newRow("Data beside Data, Data(1)") << QStringList{"Data/", "Data(1)/"} << "Data/" << "Data(2)";
        QTest::newRow("Data beside Data, Data(2)") << QStringList{"Data/", "Data(2)/"} << "Data/" << "Data(1)";
        QTest::newRow("a.csv twice") << QStringList{"a.csv", "a(1).csv"} << "a.csv" << "a(2).csv";
        QTest::newRow("no suffix") << QStringList{"a"} << "a" << "a(1)";
        QTest::newRow("percent in name") << QStringList{"%1.csv"} << "%1.csv" << "%1(1).csv";
        // A name that already carries a number counts on from it; a file holds a folder's name too.
        QTest::newRow("typed Data(1), taken") << QStringList{"Data/", "Data(1)/"} << "Data(1)/" << "Data(2)";
        QTest::newRow("typed Data(1), free") << QStringList{"Data/"} << "Data(1)/" << "Data(1)";
        QTest::newRow("Data held by a file") << QStringList{"Data"} << "Data/" << "Data(1)";
        QTest::newRow("a(1).csv taken") << QStringList{"a(1).csv"} << "a(1).csv" << "a(2).csv";
        QTest::newRow("brackets only") << QStringList{"(1)/"} << "(1)/" << "(2)";
    }
    void naming()
    {
        QFETCH(QStringList, existing);
        QFETCH(QString, request);
        SaveDlgUser user;
        for (const QString &entry : existing)
            entry.endsWith('/') ? user.root.makeDir("/media/USB1/" + entry) : user.root.writeFile("/media/USB1/" + entry, "");
        SaveOptionsDlg dialog;
        QString name = request.chopped(1), path = user.usb + '/' + request;
        if (request.endsWith('/'))
            QVERIFY(dialog.createFolder(user.usb, name) && QFileInfo(user.usb + '/' + name).isDir());
        else
            dialog.rename(path);
        QTEST(request.endsWith('/') ? name : QFileInfo(path).fileName(), "expected");
    }

    // A click puts the base name into the line; CD up ends at the volume list; a folder the model
    // has read gives the controls back at once; a remembered folder that is gone starts at "/".
    void browser()
    {
        SaveDlgUser user;
        const QString image = user.root.writeFile("/media/USB1/img.01.tif", "");
        g_PreviouslySavedPath = user.usb;
        SaveOptionsDlg dialog, next;
        dialog.setCurrentSaveOption(SAVE_OPTION_SINGLE, true);
        auto *model = qobject_cast<QFileSystemModel *>(dialog.findChild<QListView *>("LISTVIEW_BROWSER")->model());
        auto *label = dialog.findChild<QLabel *>("LABEL_CURRENT_PATH");
        QTRY_VERIFY_WITH_TIMEOUT(model->index(image).isValid(), 10000);
        QMetaObject::invokeMethod(&dialog, "on_LISTVIEW_BROWSER_clicked", Q_ARG(QModelIndex, model->index(image)));
        QCOMPARE(dialog.findChild<QLineEdit *>("EDIT_FILENAME")->text() + ' ' + label->text(), QString("img /USB1"));
        DialogRunner::click(&dialog, "BUTTON_CD_UP");
        QCOMPARE(dialog.findChild<QLineEdit *>("EDIT_FILENAME")->text() + ' ' + label->text(), QString(" /"));
        QVERIFY(!dialog.findChild<QWidget *>("BUTTON_CD_UP")->isEnabled());
        QMetaObject::invokeMethod(&dialog, "on_LISTVIEW_BROWSER_doubleClicked", Q_ARG(QModelIndex, model->index(user.usb)));
        QCOMPARE(dialog.currentFolder(), user.usb);
        for (const char *name : {"BUTTON_APPLY", "BUTTON_CANCEL", "EDIT_FILENAME", "BUTTON_NEW_FOLDER"})
            QVERIFY2(dialog.findChild<QWidget *>(name)->isEnabled(), name);

        QDir(user.usb).removeRecursively();
        next.setCurrentSaveOption(SAVE_OPTION_CSV, true);
        QCOMPARE(next.findChild<QLabel *>("LABEL_CURRENT_PATH")->text(), QString("/"));
        QCOMPARE(Paths::fixedPath(g_PreviouslySavedPath), QString("/media"));
    }

    // Option 0 is handed four 8-bit channels, the overlay and the annotated image; option 3 a table
    // of "count" rows; options 6 and 8 "count" colour result images. "click" names a box or button.
    void spaceCheck_data()
    {
        QTest::addColumn<int>("option");
        QTest::addColumn<QString>("click");
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("free");
        QTest::addColumn<int>("message"); // -1: the check passes
        QTest::addColumn<int>("total");   // progress total afterwards
        QTest::newRow("10 MB, 10 free") << 0 << "" << 0 << 10 << -1 << 1;
        QTest::newRow("10 MB, 9 free") << 0 << "" << 0 << 9 << 6 << 1;
        QTest::newRow("nothing ticked") << 0 << "BUTTON_CHANNEL_RELEASEALL" << 0 << 99 << 13 << 1;
        QTest::newRow("0.3 MB table needs 1") << 3 << "" << 2381 << 1 << -1 << 1;
        QTest::newRow("0.3 MB table, 0 free") << 3 << "" << 2381 << 0 << 6 << 1;
        QTest::newRow("growth, only Count") << 6 << "CHKBOX_SEGMENTATION" << 4 << 15 << -1 << 4;
        QTest::newRow("growth, only Count, 14") << 6 << "CHKBOX_SEGMENTATION" << 4 << 14 << 6 << 4;
        QTest::newRow("colour list") << 8 << "" << 2 << 7 << -1 << 2;
        QTest::newRow("colour list, 6") << 8 << "" << 2 << 6 << 6 << 2;
        QTest::newRow("empty list") << 8 << "" << 0 << 99 << 40 << 0;
        QTest::newRow("folder choice") << 7 << "" << 0 << 99 << 13 << 1;
    }
    void spaceCheck()
    {
        QFETCH(int, option);
        QFETCH(QString, click);
        QFETCH(int, count);
        QFETCH(int, free);
        QFETCH(int, message);
        SaveDlgUser user;
        g_PreviouslySavedPath = user.usb;
        SaveDlgUser::setFreeMegabytes(quint64(free));
        QStringList list;
        CSVReaderWriter csv;
        for (int i = 1; option == 3 && i < count; ++i)
            csv.fillCSVData("x"); // with the header, count rows
        for (int i = 0; option != 3 && i < count; ++i) {
            ImReaderWriter image;
            list << user.root.writeFile(QString("/media/VANTOR SSD/.GrowthMonitor/%1_result.tif").arg(i), "");
            QVERIFY(image.load(QByteArray(192, 'x').constData(), 8, 8, 8, 3, 1, 2, 1) && image.write(list.last().toUtf8(), ""));
        }
        unsigned char frame = 0;
        SaveOptionsDlg dialog;
        dialog.setCurrentSaveOption(TSaveOption(option), false);
        dialog.setImageBits(8);
        for (int c = 0; c < 4; ++c)
            dialog.setImageData8(c, &frame);
        dialog.setOverlayImageData24(&frame);
        dialog.setAnnotationImageData(&frame);
        dialog.setCSVReaderWriter(csv);
        if (option == 8)
            dialog.setLoadImagePathList(list, list);
        if (!click.isEmpty())
            dialog.findChild<QAbstractButton *>(click.toLatin1())->click();
        TMessageType answer = MSG_TYPE_COUNT;
        QCOMPARE(dialog.isAbleToSave(TSaveOption(option), answer), message < 0);
        QCOMPARE(int(answer), message < 0 ? int(MSG_TYPE_COUNT) : message);
        QTEST(dialog.savingTotalCount(), "total");
    }

    // New Folder: refused on the volume list and on a full volume, else the next free name.
    void newFolder()
    {
        SaveDlgUser user;
        QDir(user.usb).mkdir("Data");
        user.keyboardText = "Data";
        SaveOptionsDlg dialog;
        dialog.setCurrentSaveOption(SAVE_OPTION_CSV, true);
        DialogRunner::click(&dialog, "BUTTON_NEW_FOLDER");
        g_PreviouslySavedPath = user.usb;
        dialog.setCurrentSaveOption(SAVE_OPTION_CSV, true);
        for (quint64 free : {0, 1}) {
            SaveDlgUser::setFreeMegabytes(free);
            DialogRunner::click(&dialog, "BUTTON_NEW_FOLDER");
        }
        QCOMPARE(user.messages, QStringList({MessageDlg::presetText(MSG_CURRENT_PATH_EMPTY),
                                             MessageDlg::presetText(MSG_INSUFFICIENT_DISK_SPACE)}));
        QCOMPARE(QDir(user.usb).entryList(QDir::Dirs | QDir::NoDotAndDotDot), QStringList({"Data", "Data(1)"}));
    }

    // Escape does nothing; OK on an empty name or on the volume list is refused with its message and
    // Cancel then returns 0; the folder-choice options return 1, hand back folder and name, write nothing.
    void closing_data()
    {
        QTest::addColumn<int>("option");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("folder");
        QTest::addColumn<int>("result");
        QTest::addColumn<int>("message"); // -1 none
        QTest::newRow("time-lapse path") << 7 << "Run" << "/media/USB1" << 1 << -1;
        QTest::newRow("z-stack path") << 9 << "Run" << "/media/USB1" << 1 << -1;
        QTest::newRow("empty name") << 3 << "" << "/media/USB1" << 0 << int(MSG_ENTER_FILE_NAME);
        QTest::newRow("volume list") << 3 << "x" << "" << 0 << int(MSG_CURRENT_PATH_EMPTY);
    }
    void closing()
    {
        QFETCH(int, option);
        QFETCH(QString, name);
        QFETCH(QString, folder);
        QFETCH(int, message);
        SaveDlgUser user;
        g_PreviouslySavedPath = folder.isEmpty() ? "" : Paths::path(folder);
        user.keyboardText = name;
        bool escapeIgnored = false;
        user.act = [&](SaveOptionsDlg *dialog) {
            QTest::keyClick(dialog, Qt::Key_Escape);
            escapeIgnored = dialog->isVisible();
            if (!name.isEmpty())
                QTest::mouseClick(dialog->findChild<QLineEdit *>("EDIT_FILENAME"), Qt::LeftButton);
            DialogRunner::click(dialog, "BUTTON_APPLY");
            if (dialog->isVisible())
                DialogRunner::click(dialog, "BUTTON_CANCEL");
        };
        SaveOptionsDlg dialog;
        dialog.setCurrentSaveOption(TSaveOption(option), true);
        dialog.setImageBits(8);
        QTEST(dialog.exec(), "result");
        QVERIFY(escapeIgnored && QDir(user.usb).isEmpty());
        QCOMPARE(user.messages, message < 0 ? QStringList() : QStringList{MessageDlg::presetText(TMessageType(message))});
        QString path, file, extension;
        dialog.getSaveFilePathInfo(path, file, extension);
        if (option != 3)
            QCOMPARE(QStringList({path, file, extension}), QStringList({user.usb, name, "tif"}));
    }
};

QTEST_MAIN(TestSaveOptionsDlg)
#include "tst_saveoptionsdlg.moc"
