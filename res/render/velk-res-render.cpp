// Host tool run by the build: turns the SVG artwork in res/art into the PNG and BMP files that
// are compiled into velk_resources. Each manifest line names one resource and the SVG layers
// that make it; an error in any line fails the build instead of leaving a resource out.
//
//   velk-res-render MANIFEST ART_DIR OUT_DIR
//
// Manifest line:  number  png|bitmap|icon  WxH  opaque|alpha  layer [layer ...]
// Layer:          file.svg[@X,Y][:WxH][?key=value&key=value]
// A layer is the SVG drawn into the rectangle (X,Y,W,H) of the image (default: the whole image).
// "{key}" in the SVG text is replaced by the layer's value, percent-decoded ("%20" = space).
// Opaque images are written without alpha (24-bit); alpha images keep their transparency.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QRegularExpression>
#include <QSvgRenderer>
#include <QUrl>

#include <cstdio>

namespace {

struct Layer {
    QString file;
    QRect rect; // empty size: the whole image
    QList<QPair<QByteArray, QByteArray>> values;
};

bool fail(const QString& where, const QString& what) {
    std::fprintf(stderr, "velk-res-render: %s: %s\n", qPrintable(where), qPrintable(what));
    return false;
}

bool parseSize(const QString& text, QSize* size) {
    const QStringList parts = text.split(u'x');
    bool okW = false, okH = false;
    if (parts.size() != 2) return false;
    *size = QSize(parts[0].toInt(&okW), parts[1].toInt(&okH));
    return okW && okH && size->width() > 0 && size->height() > 0;
}

bool parseLayer(const QString& token, Layer* layer) {
    static const QRegularExpression re(QStringLiteral(
        R"(^([A-Za-z0-9_.-]+\.svg)(?:@(-?\d+),(-?\d+))?(?::(\d+x\d+))?(?:\?(.*))?$)"));
    const QRegularExpressionMatch m = re.match(token);
    if (!m.hasMatch()) return false;
    layer->file = m.captured(1);
    QSize size;
    if (m.hasCaptured(4) && !m.captured(4).isEmpty() && !parseSize(m.captured(4), &size))
        return false;
    layer->rect = QRect(QPoint(m.captured(2).toInt(), m.captured(3).toInt()), size);
    const QString query = m.captured(5);
    for (const QString& pair : query.split(u'&', Qt::SkipEmptyParts)) {
        const qsizetype eq = pair.indexOf(u'=');
        if (eq <= 0) return false;
        layer->values.append({pair.left(eq).toUtf8(),
                              QUrl::fromPercentEncoding(pair.mid(eq + 1).toUtf8()).toUtf8()});
    }
    return true;
}

bool drawLayer(QPainter& painter, const QSize& imageSize, const Layer& layer, const QDir& artDir,
               const QString& where) {
    QFile file(artDir.filePath(layer.file));
    if (!file.open(QIODevice::ReadOnly))
        return fail(where, QStringLiteral("cannot read %1").arg(file.fileName()));
    QByteArray svg = file.readAll();
    for (const auto& [key, value] : layer.values) {
        const QByteArray placeholder = '{' + key + '}';
        if (!svg.contains(placeholder))
            return fail(where, QStringLiteral("%1 has no {%2}").arg(layer.file, key));
        svg.replace(placeholder, QString::fromUtf8(value).toHtmlEscaped().toUtf8());
    }
    static const QRegularExpression leftover(QStringLiteral(R"(\{[a-z_0-9]+\})"));
    const QRegularExpressionMatch open = leftover.match(QString::fromUtf8(svg));
    if (open.hasMatch())
        return fail(where, QStringLiteral("%1: no value for %2").arg(layer.file, open.captured()));
    QSvgRenderer renderer(svg);
    if (!renderer.isValid())
        return fail(where, QStringLiteral("%1 is not valid SVG").arg(layer.file));
    QRectF target = layer.rect;
    if (layer.rect.size().isEmpty()) target = QRectF(layer.rect.topLeft(), imageSize);
    renderer.render(&painter, target);
    return true;
}

bool renderLine(const QString& line, const QDir& artDir, const QDir& outDir, int lineNo) {
    const QString where = QStringLiteral("manifest line %1").arg(lineNo);
    const QStringList tokens =
        line.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
    if (tokens.size() < 5)
        return fail(where, QStringLiteral("expected: number type WxH opaque|alpha layers..."));
    bool okNumber = false;
    const int number = tokens[0].toInt(&okNumber);
    const QString type = tokens[1];
    QSize size;
    if (!okNumber || number <= 0)
        return fail(where, QStringLiteral("bad number %1").arg(tokens[0]));
    if (type != u"png" && type != u"bitmap" && type != u"icon")
        return fail(where, QStringLiteral("bad type %1").arg(type));
    if (!parseSize(tokens[2], &size))
        return fail(where, QStringLiteral("bad size %1").arg(tokens[2]));
    const bool alpha = tokens[3] == u"alpha";
    if (!alpha && tokens[3] != u"opaque")
        return fail(where, QStringLiteral("bad mode %1").arg(tokens[3]));

    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(alpha ? Qt::transparent : Qt::black);
    {
        QPainter painter(&image);
        painter.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing |
                               QPainter::SmoothPixmapTransform);
        for (qsizetype i = 4; i < tokens.size(); ++i) {
            Layer layer;
            if (!parseLayer(tokens[i], &layer))
                return fail(where, QStringLiteral("bad layer %1").arg(tokens[i]));
            if (!drawLayer(painter, size, layer, artDir, where)) return false;
        }
    }
    if (alpha)
        image = image.convertToFormat(QImage::Format_ARGB32);
    else
        image = image.convertToFormat(QImage::Format_RGB888);

    const QString folder = type;
    const QString ext = type == u"bitmap" ? QStringLiteral("bmp") : QStringLiteral("png");
    if (!outDir.mkpath(folder))
        return fail(where, QStringLiteral("cannot create %1").arg(outDir.filePath(folder)));
    const QString path =
        outDir.filePath(QStringLiteral("%1/%2.%3").arg(folder).arg(number).arg(ext));
    if (!image.save(path, ext == u"bmp" ? "BMP" : "PNG"))
        return fail(where, QStringLiteral("cannot write %1").arg(path));
    return true;
}

} // namespace

int main(int argc, char** argv) {
    // Fonts need a QGuiApplication; the build has no display.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // The build runs without a user session; Qt's note about the runtime folder is noise here.
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& text) {
        if (!text.startsWith(QLatin1String("QStandardPaths:")))
            std::fprintf(stderr, "%s%s\n", type >= QtCriticalMsg ? "error: " : "",
                         qPrintable(text));
    });
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 4) {
        std::fprintf(stderr, "usage: velk-res-render MANIFEST ART_DIR OUT_DIR\n");
        return 2;
    }
    QFile manifest(args[1]);
    if (!manifest.open(QIODevice::ReadOnly | QIODevice::Text)) {
        fail(args[1], QStringLiteral("cannot read"));
        return 1;
    }
    // Every caption is set in this family; without it Korean captions would come out as boxes.
    if (!QFontDatabase::families().contains(QStringLiteral("Noto Sans CJK KR"))) {
        fail(QStringLiteral("fonts"), QStringLiteral("Noto Sans CJK KR is not installed "
                                                     "(Debian package fonts-noto-cjk)"));
        return 1;
    }
    const QDir artDir(args[2]);
    const QDir outDir(args[3]);
    if (!outDir.mkpath(QStringLiteral("."))) {
        fail(args[3], QStringLiteral("cannot create"));
        return 1;
    }
    int lineNo = 0;
    bool ok = true;
    while (!manifest.atEnd()) {
        const QString line = QString::fromUtf8(manifest.readLine()).trimmed();
        ++lineNo;
        if (line.isEmpty() || line.startsWith(u'#')) continue;
        ok = renderLine(line, artDir, outDir, lineNo) && ok;
    }
    return ok ? 0 : 1;
}
