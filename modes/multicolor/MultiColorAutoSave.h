#pragma once
#include <QString>
#include <QtGlobal>
#include <memory>

// One auto-save of a newly captured channel: a snapshot taken on the GUI thread (the shared
// pixels, metadata text, folder and name) that a pool thread writes as a TIFF file without
// reading anything of the page. The outcome goes back to the page, which shows it.
class MultiColorAutoSave
{
public:
    // The default folder, used when the configured one is gone.
    static const QString defaultFolder; // "/media/VANTOR SSD/Quicksave/"

    struct Outcome
    {
        QString folder;   // the folder (fixed path, ending in "/") written to or tried
        QString fileName; // the name written, empty unless written
        bool folderChanged = false; // the default folder replaced a missing one
        bool noSpace = false;
        bool written = false;
    };

    // Holds one frame, which its owner no longer changes (MultiColorModel::capturedImage): 8 or
    // 16 bits per sample, grey or RGB; 16-bit samples as plain intensities in native words.
    // folder is a fixed path; label names the file after the capture time.
    MultiColorAutoSave(std::shared_ptr<const uchar> pixels, int bits, bool colour, const QString &folder,
                       const QString &label, const QString &metaText);

    // The file name "yyyyMMdd_hhmmss_<label>.tif" of the snapshot.
    QString fileName() const { return m_FileName; }

    // Pool thread: the folder (recreated at the default place when it is gone), the free-space
    // check and the write. Never overwrites.
    Outcome run();

    // Megabytes one file needs free on its volume: its size with a quarter more, rounded up.
    static quint64 requiredMegabytes(int bits, bool colour);

private:
    std::shared_ptr<const uchar> m_Pixels;
    int m_nBits = 8;
    bool m_bColour = false;
    QString m_Folder;
    QString m_FileName;
    QString m_MetaText;
};
