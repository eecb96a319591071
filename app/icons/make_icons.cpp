// Draws the program's icons. The PNG and ICO files beside this source are its
// output; run it again after changing the drawing:
//   cmake --build build/native --target tarnvel_make_icons
//   build/native/app/icons/tarnvel_make_icons app/icons
#include <QBuffer>
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QtEndian>
#include <cstdio>
#include <vector>

namespace {

// The application icon: amber source, blue mirror, an arrow between them, on a slate tile.
QImage AppIcon(int s) {
  QImage image(s, s, QImage::Format_ARGB32);
  image.fill(Qt::transparent);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing, s >= 24);
  p.scale(s / 256.0, s / 256.0);
  QLinearGradient tile(0, 0, 0, 256);
  tile.setColorAt(0, QColor("#56616c"));
  tile.setColorAt(1, QColor("#2b3137"));
  p.setPen(QPen(QColor("#15181b"), 8));
  p.setBrush(tile);
  p.drawRoundedRect(QRectF(6, 6, 244, 244), 44, 44);
  p.setPen(QPen(QColor("#15181b"), 8));
  p.setBrush(QColor("#f0a830"));
  p.drawRoundedRect(QRectF(34, 60, 82, 136), 10, 10);
  p.setBrush(QColor("#4fb0e8"));
  p.drawRoundedRect(QRectF(140, 60, 82, 136), 10, 10);
  // Film perforations: this is about media files.
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(21, 24, 27, 170));
  for (int y = 76; y < 190; y += 30) {
    p.drawRect(QRectF(44, y, 14, 14));
    p.drawRect(QRectF(198, y, 14, 14));
  }
  QPainterPath arrow;
  arrow.moveTo(96, 104);
  arrow.lineTo(140, 104);
  arrow.lineTo(140, 80);
  arrow.lineTo(184, 128);
  arrow.lineTo(140, 176);
  arrow.lineTo(140, 152);
  arrow.lineTo(96, 152);
  arrow.closeSubpath();
  p.setPen(QPen(QColor("#15181b"), 8, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
  p.setBrush(QColor("#ffffff"));
  p.drawPath(arrow);
  return image;
}

// The 16 x 15 folder icons, drawn pixel-exact with a handful of flat colours.
enum class Folder { Closed, Open, Current };

QImage FolderIcon(Folder kind) {
  QImage image(16, 15, QImage::Format_ARGB32);
  image.fill(Qt::transparent);
  QPainter p(&image);
  const bool current = kind == Folder::Current;
  const QColor outline(current ? "#1c4a73" : "#70500f");
  const QColor back(current ? "#4f97d2" : "#dca33c");
  const QColor front(current ? "#a6d6f7" : "#f7d27a");
  p.setPen(outline);
  p.setBrush(back);
  p.drawRect(1, 1, 5, 2);    // tab
  p.drawRect(1, 3, 13, 10);  // body
  if (kind != Folder::Closed) {
    const QPoint flap[] = {{4, 6}, {15, 6}, {13, 13}, {1, 13}};
    p.setBrush(front);
    p.drawPolygon(flap, 4);
  } else {
    p.setPen(front);
    p.drawLine(2, 4, 13, 4);  // highlight along the top edge
  }
  return image;
}

QByteArray Png(const QImage& image) {
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  image.save(&buffer, "PNG");
  return bytes;
}

template <class T>
void Put(QByteArray& out, T value) {
  value = qToLittleEndian(value);
  out.append(reinterpret_cast<const char*>(&value), sizeof(value));
}

// A 32-bit DIB as an icon image: header, BGRA rows bottom-up, an empty AND mask.
QByteArray Dib(const QImage& source) {
  const QImage image = source.convertToFormat(QImage::Format_ARGB32);
  const int s = image.width();
  const int maskStride = ((s + 31) / 32) * 4;
  QByteArray out;
  Put<quint32>(out, 40);
  Put<qint32>(out, s);
  Put<qint32>(out, 2 * s);
  Put<quint16>(out, 1);
  Put<quint16>(out, 32);
  Put<quint32>(out, 0);
  Put<quint32>(out, s * s * 4 + maskStride * s);
  for (int i = 0; i < 4; ++i) Put<qint32>(out, 0);
  for (int y = s - 1; y >= 0; --y)
    for (int x = 0; x < s; ++x) Put<quint32>(out, image.pixel(x, y));
  out.append(QByteArray(maskStride * s, '\0'));
  return out;
}

QByteArray Ico(const std::vector<QImage>& images) {
  std::vector<QByteArray> data;
  for (const QImage& image : images) data.push_back(image.width() >= 256 ? Png(image) : Dib(image));
  QByteArray out;
  Put<quint16>(out, 0);
  Put<quint16>(out, 1);
  Put<quint16>(out, static_cast<quint16>(images.size()));
  quint32 offset = 6 + 16 * static_cast<quint32>(images.size());
  for (size_t i = 0; i < images.size(); ++i) {
    const int s = images[i].width();
    out.append(char(s >= 256 ? 0 : s));
    out.append(char(s >= 256 ? 0 : s));
    out.append(char(0));
    out.append(char(0));
    Put<quint16>(out, 1);
    Put<quint16>(out, 32);
    Put<quint32>(out, static_cast<quint32>(data[i].size()));
    Put<quint32>(out, offset);
    offset += static_cast<quint32>(data[i].size());
  }
  for (const QByteArray& d : data) out.append(d);
  return out;
}

bool Write(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

}  // namespace

int main(int argc, char** argv) {
  QGuiApplication app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUTPUT_FOLDER\n", argv[0]);
    return 2;
  }
  const QDir out(QString::fromLocal8Bit(argv[1]));
  bool ok = true;
  std::vector<QImage> group;
  for (int size : {16, 24, 32, 48, 256}) group.push_back(AppIcon(size));
  ok &= Write(out.filePath("tarnvel.ico"), Ico(group));
  // The sizes of the desktop's icon themes; the 64-pixel one is also the window icon.
  for (int size : {16, 32, 48, 64, 128, 256, 512})
    ok &= AppIcon(size).save(out.filePath(QString("tarnvel-%1.png").arg(size)));
  ok &= FolderIcon(Folder::Open).save(out.filePath("openfolder.png"));
  ok &= FolderIcon(Folder::Current).save(out.filePath("currentfolder.png"));
  ok &= FolderIcon(Folder::Closed).save(out.filePath("closedfolder.png"));
  if (!ok) std::fprintf(stderr, "could not write the icons to %s\n", argv[1]);
  return ok ? 0 : 1;
}
