#pragma once
#include <QDialog>

#include <string>

class QPlainTextEdit;
class QVBoxLayout;

// The image viewer's metadata panel: the acquisition record a saved TIFF carries as its
// ImageDescription, one entry a line, a few key names reworded. A frameless child of the viewer.
class ImageAttributeDialog : public QDialog
{
    Q_OBJECT
public:
    explicit ImageAttributeDialog(QWidget *parent = nullptr);
    ~ImageAttributeDialog() override;

    // A record of a few hundred characters fills the panel; a longer one is cut there (and
    // ends in an ellipsis), as laying out megabytes would hold the screen for minutes.
    static constexpr int maxShownCharacters = 4096;

    // Reads the record of the image at path (UTF-8) and shows it, cut; "Invalid image meta data."
    // when the file is no regular TIFF file libtiff can open or carries no description.
    void getPath(const std::string &path);
    static QString cut(QString description);

    // The record as shown: ";" to line breaks, then the key rewordings in order.
    static QString reword(QString description);
    QString text() const;

private:
    QVBoxLayout *verticalLayout;
    QPlainTextEdit *plainTextEdit;
};
