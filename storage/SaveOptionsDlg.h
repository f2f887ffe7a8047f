#pragma once
#include "SaveImageComposer.h"
#include "ScaleBar.h"
#include "ScriptableDialog.h"
#include "MessageDlg.h"
#include "TAnnotationTextInfo.h"
#include "TSaveOption.h"

#include <QByteArray>
#include <QDir>
#include <QModelIndex>
#include <QPixmap>
#include <QPointF>
#include <QPointer>
#include <QStringList>
#include <memory>

class CSVReaderWriter;
class ImReaderWriter;
class FileIconProvider;
class QCheckBox;
class QFileSystemModel;
class Ui_SaveOptionsDlg;

// The one modal dialog through which every page saves: the user picks a folder below "/media" in
// the browser, names the file on the on-screen keyboard, chooses format, colour and images, and
// gets a clear answer. Built on the caller's stack, configured by the setters (setCurrentSaveOption
// first), run with exec() (1 after a successful save, or after OK for the folder-choice options 7
// and 9; 0 after Cancel or a failed quick save) and destroyed. No buffer handed over is copied or
// freed: the caller keeps them alive until exec() returns.
//
// OK checks the name and the folder, shows "Saving in Progress ..." and 100 ms later runs the
// saving run (slotStartSaving): free-space check, result folder, the saver of the option, sync,
// the outcome message, and accept (or, for a quick save, reject) 100 ms later.
//
// Quick save: the dialog is never seen (one pixel at the top-left corner), names the file by the
// time stamp, saves into "/media/VANTOR SSD/Quicksave/" and presses OK by itself after 500 ms.
class SaveOptionsDlg : public ScriptableDialog
{
    Q_OBJECT
public:
    explicit SaveOptionsDlg(QWidget *parent = nullptr, bool quickSave = false);
    ~SaveOptionsDlg() override;

    // Must come first: the browser and the controls of the option. pseudoColor is the page's
    // pseudo-colour state or, for option 6, whether raw images can be saved.
    void setCurrentSaveOption(TSaveOption option, bool pseudoColor, TSubOption subOption = SUB_OPTION_NONE);
    // 8 or 16: the format rows offered (the first is selected).
    void setImageBits(int bits);
    void setDrawingScaleBar(bool show, int objectivePosition);
    // 0 to 4 and 7 (grey); any other value is taken as 7.
    void setFilterColorIndex(int colorIndex);

    // The metadata texts written into saved images (see the .cpp for their form).
    void generateCapturedImageMetaData();
    void generateOverlayImageMetaData(const bool *flags);
    QByteArray capturedImageMetaData() const { return m_CapturedImageMetaData; }
    QByteArray overlayImageMetaData() const { return m_OverlayImageMetaData; }

    // Channel 0..3 frames (1280 x 1024). For option 0 each also enables and ticks its box.
    void setImageData8(int channel, unsigned char *data);
    void setImageData24(int channel, unsigned char *data);
    void setImageData16(int channel, unsigned char *data);
    void setImageData48(int channel, unsigned char *data);
    void setOverlayImageData24(unsigned char *data);
    void setOverlayImageData48(unsigned char *data);
    void setAnnotationImageData(unsigned char *data);
    void setCSVReaderWriter(CSVReaderWriter &csv);
    // Options 8 and 10: the images of a run and one annotation line per image.
    void setLoadImagePathList(const QStringList &paths, const QStringList &names);
    QStringList loadImagePathList() const { return m_ImagePathList; }
    QStringList loadImageNameList() const { return m_ImageNameList; }

    // After exec(): the folder (a real path), the file name and the extension chosen.
    void getSaveFilePathInfo(QString &folder, QString &name, QString &extension) const;
    void getFileNameFormat(QString &out) const; // "name.extension"

    // Whether what the option writes fits on the volume of the current folder; on false message
    // holds the preset to show.
    bool isAbleToSave(TSaveOption option, TMessageType &message);
    // Makes parent/name as one new folder, name turned into its first free variant ("%1(%2)").
    bool createFolder(QString parent, QString &name);
    // The first free variant of a file path ("%1(%2)%3").
    void rename(QString &path);
    // The progress total: entries of folder matching the filters.
    void setSavingTotalCount(QString folder, QStringList nameFilters, QDir::Filters filter);
    int savingTotalCount() const { return m_nTotalCount; }
    int savedCount() const { return m_nSavedCount; }
    QString currentFolder() const { return m_CurrentPath; }
    ScaleBar &scaleBar() { return m_ScaleBar; }

    // Fills the work-file list from folder: per name filter, the matching entries sorted by name,
    // as their real paths or, with rebuildNames, as folder + "Temp_" + six-digit index + ".raw" or
    // ".tif" (by the filter) for index 0 to the entry count - 1. folder ends with "/".
    void loadRAWFiles(QString folder, QStringList nameFilters, QDir::Filters filter, bool rebuildNames);
    QStringList rawFileList() const { return m_RawFileList; }

    // The frame of byteCount bytes with the scale bar and annotation line burnt in (see
    // SaveImageComposer), and a grey frame in the chosen pseudo colour.
    void drawScaleBar(void *source, bool colour, int byteCount, void *destination);
    void makePseudoColorImage(void *source, int byteCount, unsigned char *destination);

    // Filled by the pages before exec().
    QPointF m_ScaleBarPoint;
    TAnnotationTextInfo m_AnnotationTextInfo;
    int m_nViewIndex = -1; // the channel 0..3 the Multicolor page showed; else the overlay view

public slots:
    // Closes the dialog only while closing is allowed (Cancel, a finished save): Escape and the
    // window system do nothing.
    void reject() override;

protected:
    void paintEvent(QPaintEvent *event) override;
    bool eventFilter(QObject *object, QEvent *event) override;

private slots:
    void on_BUTTON_APPLY_clicked();
    void on_BUTTON_CANCEL_clicked();
    void on_BUTTON_NEW_FOLDER_clicked();
    void on_BUTTON_CD_UP_clicked();
    void on_BUTTON_CHANNEL_SELECTALL_clicked();
    void on_BUTTON_CHANNEL_RELEASEALL_clicked();
    void on_CHECKBOX_SAVE_AS_FOLDER_clicked();
    void on_RADIO_COLOR_MONOCHROME_clicked();
    void on_RADIO_COLOR_PSEUDO_COLOR_clicked();
    void on_CHKBOX_SAVE_WITH_ANNOTATION_clicked();
    void on_LISTVIEW_BROWSER_clicked(const QModelIndex &index);
    void on_LISTVIEW_BROWSER_doubleClicked(const QModelIndex &index);
    void on_COMB_FILTER_COLOR_currentIndexChanged(int row);
    void slotDirectoryLoaded(QString path);
    void slotStartSaving();
    void slotRemovedDisk();
    void slotAccept();
    void slotReject();

private:
    void initialize();
    void fillColorCombo();
    void readFilterName();
    void setupBrowser(TSaveOption option);
    void showFolder(const QString &path);
    void clearBrowserSelection();
    void setBrowsingEnabled(bool on);
    void setColorRadios(bool monochrome);
    void lock(QCheckBox *box);
    void setChannelData(unsigned char **slot, int channel, unsigned char *data);
    QCheckBox *channelBox(int channel) const;
    static int channelOfBox(int position);
    void offerOverlay(unsigned char *data);
    QList<QCheckBox *> selectableBoxes() const;
    bool editName(QString &text, bool preset);
    void closeProgressBox();
    bool ensureQuicksaveFolder();
    bool runSaver();
    bool savingCSV();
    bool savingMultiColor();
    bool savingSingle();
    bool savingZStack();
    bool savingTimeLapse();
    bool savingSeries(const QString &workFolder, bool folderForm);
    bool savingLoadImageList();
    bool savingCellCount();
    bool savingGrowthMonitor();

    struct PlannedImage;
    SaveImageComposer composer() const;
    QString basePath(bool folderForm) const;
    QString filterName(int channel) const;
    bool numberedNamesFit(const QString &base, int last, const QString &suffix = QString()) const;
    bool writePlanned(const QList<PlannedImage> &images);
    bool writeImage(ImReaderWriter &writer, const QString &path, const void *pixels, int bits, int samples,
                    const QByteArray &text, int orientation = 1);
    bool writeLoaded(ImReaderWriter &writer, const QString &path, const QByteArray &text, bool loaded);
    void showSaveFailed();

    TSaveOption m_SaveOption = SAVE_OPTION_MULTICOLOR;
    TSubOption m_SubOption = SUB_OPTION_NONE;
    bool m_bCloseAllowed = false;
    CSVReaderWriter *m_pCSVReaderWriter = nullptr;
    QString m_FileName;
    QString m_CurrentPath;
    QFileSystemModel *m_pModel = nullptr;
    std::unique_ptr<FileIconProvider> m_pIconProvider;
    int m_nSavedCount = 1;
    int m_nTotalCount = 1;
    QPixmap m_ProgressImage;
    bool m_bSaved = false;
    bool m_bSaving = false;
    int m_nImageBits = 8;
    int m_nFilterColorIndex = 7;
    QString m_Extension = "tif";
    unsigned char *m_pImage8[4] = {};
    unsigned char *m_pImage24[4] = {};
    unsigned char *m_pImage16[4] = {};
    unsigned char *m_pImage48[4] = {};
    unsigned char *m_pOverlay24 = nullptr;
    unsigned char *m_pOverlay48 = nullptr;
    unsigned char *m_pAnnotation = nullptr;
    ScaleBar m_ScaleBar;
    QPointer<MessageDlg> m_pSavingDlg;
    QByteArray m_CapturedImageMetaData;
    QByteArray m_OverlayImageMetaData;
    bool m_bQuickSave = false;
    QStringList m_ImageNameList;
    QStringList m_ImagePathList;
    bool m_bColorImage = false;
    QString m_AnnotationLine;   // burnt into the current image of an image list
    QStringList m_RawFileList;
    int m_nUnreadable = 0;      // sources of the run that could not be read
    int m_nSources = 0;         // sources of the run
    Ui_SaveOptionsDlg *ui;
};
