// Draws the icon's PNG sizes and the Windows .ico from the SVG sources:
//   tessaro-render-icons <resources/icons folder>
// The PNGs and the .ico are kept in the repository beside the SVGs, so a
// build needs no SVG renderer; run this after changing a drawing.

#include <QBuffer>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>
#include <QtEndian>
#include <cstdio>
#include <vector>

namespace {

QImage Draw(const QString& svg, int size) {
  QSvgRenderer renderer(svg);
  QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  renderer.render(&painter);
  painter.end();
  return image.convertToFormat(QImage::Format_ARGB32);
}

QByteArray Png(const QImage& image) {
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  image.save(&buffer, "PNG");
  return bytes;
}

void Put16(QByteArray& out, quint16 v) {
  v = qToLittleEndian(v);
  out.append(reinterpret_cast<const char*>(&v), 2);
}
void Put32(QByteArray& out, quint32 v) {
  v = qToLittleEndian(v);
  out.append(reinterpret_cast<const char*>(&v), 4);
}

// An .ico of PNG-compressed images, one per size (the format Windows reads
// since Vista; a size byte of 0 means 256).
QByteArray Ico(const std::vector<std::pair<int, QByteArray>>& images) {
  QByteArray out;
  Put16(out, 0);
  Put16(out, 1);
  Put16(out, static_cast<quint16>(images.size()));
  quint32 offset = 6 + 16 * static_cast<quint32>(images.size());
  for (const auto& [size, png] : images) {
    out.append(static_cast<char>(size >= 256 ? 0 : size));
    out.append(static_cast<char>(size >= 256 ? 0 : size));
    out.append('\0');  // no palette
    out.append('\0');
    Put16(out, 1);   // planes
    Put16(out, 32);  // bits per pixel
    Put32(out, static_cast<quint32>(png.size()));
    Put32(out, offset);
    offset += static_cast<quint32>(png.size());
  }
  for (const auto& image : images) out.append(image.second);
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  QGuiApplication app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <resources/icons folder>\n", argv[0]);
    return 2;
  }
  QString dir = QString::fromLocal8Bit(argv[1]);
  std::vector<std::pair<int, QByteArray>> ico;
  for (int size : {16, 24, 32, 48, 64, 128, 256}) {
    QString source = dir + (size <= 24 ? "/tessaro-small.svg" : "/tessaro.svg");
    QByteArray png = Png(Draw(source, size));
    QFile file(QStringLiteral("%1/tessaro-%2.png").arg(dir).arg(size));
    if (!file.open(QIODevice::WriteOnly) || file.write(png) != png.size()) {
      std::fprintf(stderr, "cannot write %s\n", qPrintable(file.fileName()));
      return 1;
    }
    if (size != 24 && size != 128) ico.emplace_back(size, png);
  }
  QFile icon(dir + "/tessaro.ico");
  QByteArray bytes = Ico(ico);
  if (!icon.open(QIODevice::WriteOnly) || icon.write(bytes) != bytes.size()) {
    std::fprintf(stderr, "cannot write %s\n", qPrintable(icon.fileName()));
    return 1;
  }
  return 0;
}
