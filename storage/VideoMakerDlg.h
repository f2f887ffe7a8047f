#pragma once
#include "EncodingParam.h"
#include "ScriptableDialog.h"

#include <QString>

class Ui_VideoMakerDlg;

// The "create a video" dialog of an image-series export: folder and name of the MP4 file, frame
// rate, quality and picture size.
//
// Usual use: construct, setDefaultParam with the series' folder and the last choice, exec(), and
// on 1 getParam. The video is save folder + "/" + file name + ".mp4". Frame rate and name are
// typed on the on-screen keyboard; the folder is chosen with DirectoryDialog. OK asks before an
// existing video would be overwritten, but deletes nothing.
class VideoMakerDlg : public ScriptableDialog
{
    Q_OBJECT
public:
    explicit VideoMakerDlg(QWidget *parent = nullptr);
    ~VideoMakerDlg() override;

    void setDefaultParam(const QString &path, const EncodingParam &param);
    void getParam(QString &path, QString &fileName, EncodingParam &param) const;

    // The warning shown before an existing video is replaced (%1: its file name).
    static const QString kOverwriteText;

    // For tests and screenshots.
    Ui_VideoMakerDlg *form() const { return ui; }

    // The keyboard roads of a press on the frame-rate field and on the name field.
    void on_SPINBOX_FR_clicked();
    void on_SPINBOX_QUALITY_clicked() {}
    void on_SPINBOX_SCALE_clicked() {}
    void editFileName();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private slots:
    void on_BUTTON_APPLY_clicked();
    void on_BUTTON_CANCEL_clicked();
    void on_BUTTON_SAVE_PATH_clicked();

private:
    void initialize();
    void showSavePath();
    void showMessage(int type);

    QString m_SavePath;
    QString m_FileName;
    EncodingParam m_Param;
    Ui_VideoMakerDlg *ui;
};
