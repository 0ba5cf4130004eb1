#include "About.h"

#include <QApplication>
#include <QImage>
#include <QPalette>
#include <QPixmap>

#include "AboutPicture.h"
#include "Contrast.h"
#include "FormUtils.h"
#include "JpegDecoder.h"


namespace {

const char kMakerLines[] = "\n\nVelkor CO., LTD.\nWeb site: ";
const char kWebAddress[] = "www.velkor.example";
const char kLibraryVersion[] = "ZarfelDLL     Version 1.0.3";

// The product lettering: a heavy condensed face, the nearest being
// DejaVu Sans Condensed where the original one is missing.
QFont letteringFont(int pixelHeight, bool bold)
{
    QFont font;
    font.setFamilies({QStringLiteral("Haettenschweiler"), QStringLiteral("DejaVu Sans Condensed"),
                      QStringLiteral("DejaVu Sans")});
    font.setPixelSize(pixelHeight);
    font.setBold(bold);
    return font;
}

} // namespace

Tfrm_About::Tfrm_About(QWidget *parent, const QString &version)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint)
{
    setupUi(this);
    applyDesignFont(this);
    setClientSize(this, 289, 256);
    setAutoFillBackground(true);
    // The light background and the navy and blue lettering where the
    // desktop's scheme lets text stay readable on them.
    contrast::followPalette(this, [this] {
        const QPalette around = QApplication::palette(this);
        contrast::setReadable(this, QPalette::Window, around.color(QPalette::Light), around, {QPalette::WindowText});
        contrast::setReadable(Label2, QPalette::WindowText, QColor(0, 0, 128), palette(), {QPalette::Window});
        contrast::setReadable(Label1, QPalette::WindowText, QColor(0, 0, 255), palette(), {QPalette::Window});
    });

    Label2->setFont(letteringFont(27, false));
    Label1->setFont(letteringFont(40, true));
    Label2->adjustSize();
    Label1->adjustSize();
    Image1->setScaledContents(false);
    Button1->setDefault(true);
    connect(Button1, &QPushButton::clicked, this, [this] { done(mrOk); });

    const std::span<const unsigned char> picture = aboutPictureJpeg();
    setPicture(picture.data(), picture.size());
    FormCreate(version);
}

Tfrm_About::~Tfrm_About() = default;

void Tfrm_About::FormCreate(const QString &version)
{
    setLabelText(Label3, version + QLatin1String(kMakerLines) + QLatin1String(kWebAddress));
    setLabelText(Label4, QLatin1String(kLibraryVersion));
}

bool Tfrm_About::setPicture(const void *bytes, std::size_t length)
{
    const JpegImage image = decodeJpeg(bytes, length, JpegPixelFormat::Rgb888);
    // A damaged picture is not worth a half-drawn one: only a whole decode shows.
    if (image.status != JpegStatus::Complete) {
        Image1->clear();
        return false;
    }
    const QImage view(image.pixels.data(), image.width, image.height,
                      static_cast<qsizetype>(image.bytesPerLine), QImage::Format_RGB888);
    Image1->setPixmap(QPixmap::fromImage(view.copy()));
    return true;
}
