#include "ImageAttributeDialog.h"
#include "Utilities.h"

#include <QPlainTextEdit>
#include <QVBoxLayout>

ImageAttributeDialog::ImageAttributeDialog(QWidget *parent)
    : QDialog(parent, Qt::FramelessWindowHint)
{
    setObjectName("ImageAttributeDialog");
    setWindowTitle("Attribute");
    resize(223, 197);
    setFont(QFont("DejaVu Sans"));
    setModal(false);
    setStyleSheet("#ImageAttributeDialog { background-color: rgb(93, 102, 117); border: 1px solid rgb(178, 191, 210); }\n"
                  "QPlainTextEdit { background-color: rgb(93, 102, 117); color: rgb(225, 225, 225); border: none; }");
    verticalLayout = new QVBoxLayout(this);
    plainTextEdit = new QPlainTextEdit(this);
    plainTextEdit->setFont(QFont("DejaVu Sans"));
    verticalLayout->addWidget(plainTextEdit);
    // No window type: a child widget drawn inside the viewer, placed in its coordinates.
    setWindowFlags(Qt::WindowStaysOnTopHint | Qt::FramelessWindowHint);
}

ImageAttributeDialog::~ImageAttributeDialog() = default;

QString ImageAttributeDialog::reword(QString description)
{
    description.replace(";", "\n");
    description.replace("Serial Number", "Serial number");
    description.replace("Camera Mode", "Camera mode");
    description.replace("Filter Name", "Filter cube", Qt::CaseInsensitive);
    description.replace("Objective Lens", "Objective", Qt::CaseInsensitive);
    description.replace(" =", ":");
    return description;
}

QString ImageAttributeDialog::text() const
{
    return plainTextEdit->toPlainText();
}

QString ImageAttributeDialog::cut(QString description)
{
    if (description.size() <= maxShownCharacters)
        return description;
    int keep = maxShownCharacters;
    if (description.at(keep - 1).isHighSurrogate())
        --keep;
    description.truncate(keep);
    return description + QChar(0x2026);
}

void ImageAttributeDialog::getPath(const std::string &path)
{
    QString description;
    if (getImageMetaInfo(path, description) != 1)
        plainTextEdit->setPlainText(QStringLiteral("Invalid image meta data."));
    else
        plainTextEdit->setPlainText(reword(cut(description)));
}
