// Draws the address field in both display states into PNG files, for a person to look at.
// Usage: ipedit_shot <directory>
#include <QDir>
#include <QFont>
#include <QPixmap>
#include <QVBoxLayout>
#include <QWidget>
#include <cstdio>

#include "Application.h"
#include "IPMACEdit.h"

namespace {

bool Save(QWidget& widget, const QString& path) {
    const QPixmap shot = widget.grab();
    // An enlarged copy with hard pixel edges, where the box and label positions can be read.
    const QPixmap large =
        shot.scaled(shot.size() * 4, Qt::IgnoreAspectRatio, Qt::FastTransformation);
    const bool ok = shot.save(path + ".png") && large.save(path + "-x4.png");
    std::printf("%s %s.png (%dx%d)\n", ok ? "wrote" : "could not write", qPrintable(path),
                shot.width(), shot.height());
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    TApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: ipedit_shot <directory>\n");
        return 2;
    }
    const QString dir = QString::fromLocal8Bit(argv[1]);
    if (!QDir().mkpath(dir)) {
        std::fprintf(stderr, "cannot create %s\n", argv[1]);
        return 1;
    }

    // As the main window shows it: 130 by 20 in the form's font.
    QWidget window;
    QFont font(QString::fromUtf8("宋体"));
    font.setPixelSize(12);
    window.setFont(font);
    auto* layout = new QVBoxLayout(&window);
    auto* address = new TIPEdit;
    address->SetText("192.168.100.255");
    auto* prefix = new TIPEdit;
    prefix->SetDisplayMask(true);
    prefix->SetText("10.200.0.255");
    prefix->SetMask(24);
    for (TIPEdit* edit : {address, prefix}) {
        edit->setFixedSize(130, 20);
        layout->addWidget(edit);
    }
    window.show();
    QApplication::processEvents();

    const bool ok = Save(*address, dir + "/ipedit-address") &&
                    Save(*prefix, dir + "/ipedit-prefix") && Save(window, dir + "/ipedit-both");
    return ok ? 0 : 1;
}
