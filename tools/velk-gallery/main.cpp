// velk-gallery [OUTPUT.png]
// Writes one PNG sheet for people to look at: a mock-up of the main window put together from the
// compiled-in pictures and the drawn controls, every picture at its own size with its number,
// and the image button, slider and status text in each of their states. Default output:
// velk-gallery.png beside the program. Needs a display (Xvfb will do).

#include "CGdipButton.h"
#include "CMySliderControl.h"
#include "CNoFlickerStatic.h"
#include "Resources.h"
#include "Strings.h"

#include <QApplication>
#include <QDir>
#include <QEnterEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>

#include <cstdio>

using velk::ResourceType;

namespace {

const QColor kSheet(58, 61, 66);
const QColor kCaption(210, 210, 210);
const QColor kNote(150, 155, 162);
constexpr int kMargin = 24;
constexpr int kSheetWidth = 1560;

struct Placed {
    int number;
    QPoint at;
    ResourceType type = ResourceType::Png;
};

// A widget that paints pictures at fixed places, as the panels do on their background.
class Picture : public QWidget {
public:
    Picture(QWidget* parent, QRect geometry, QList<Placed> pictures)
        : QWidget(parent), m_pictures(std::move(pictures)) {
        setGeometry(geometry);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        for (const Placed& p : m_pictures)
            velk::drawResource(painter, p.number, p.at.x(), p.at.y(), p.type);
    }

private:
    QList<Placed> m_pictures;
};

CGdipButton* button(QWidget* parent, int number, QRect geometry, int alternate = 0) {
    auto* b = new CGdipButton(parent);
    b->LoadNormalImage(number);
    if (alternate) {
        b->LoadAlternateImage(alternate);
        b->EnableToggle(true);
    }
    b->setGeometry(geometry);
    return b;
}

QLabel* label(QWidget* parent, const QString& text, QRect geometry, QColor colour,
              Qt::Alignment align, int pixelSize) {
    auto* l = new QLabel(text, parent);
    QFont font(QStringLiteral("Noto Sans CJK KR"));
    font.setPixelSize(pixelSize);
    l->setFont(font);
    QPalette palette = l->palette();
    palette.setColor(QPalette::WindowText, colour);
    l->setPalette(palette);
    l->setAlignment(align);
    l->setGeometry(geometry);
    return l;
}

// The main window in its normal layout, every piece taken from the resources.
QImage mainWindowMockup(quint16 language) {
    const bool korean = velk::usesKoreanSet(language);
    QWidget window;
    window.setFixedSize(1080, 645);
    window.setAutoFillBackground(true);
    QPalette palette = window.palette();
    palette.setColor(QPalette::Window, QColor(100, 100, 100));
    window.setPalette(palette);

    auto* title = new Picture(&window, {0, 0, 1080, 42}, {{147, {0, 0}}});
    label(title, QStringLiteral("20240512_143015_N.mp4"), {120, 11, 585, 20}, QColor(184, 184, 184),
          Qt::AlignCenter, 15);
    button(title, 265, {759, 0, 47, 42});
    button(title, 255, {806, 0, 47, 42});
    button(title, 148, {853, 0, 47, 42});
    button(title, 149, {900, 0, 47, 42});
    button(title, 151, {952, 0, 38, 42});
    button(title, 153, {990, 0, 38, 42});
    button(title, 155, {1028, 0, 38, 42});

    new Picture(&window, {0, 42, 720, 405}, {{157, {0, 0}}});

    auto* control = new Picture(&window, {0, 447, 720, 75},
                                {{158, {0, 0}}, {226, {597, 37}}, {224, {454, 37}}});
    label(control, QStringLiteral("00:01:23"), {5, 2, 45, 15}, QColor(184, 184, 184),
          Qt::AlignLeft | Qt::AlignVCenter, 11);
    label(control, QStringLiteral("00:03:00"), {670, 2, 45, 15}, QColor(184, 184, 184),
          Qt::AlignLeft | Qt::AlignVCenter, 11);
    auto slider = [control](QRect geometry, int max, int value) {
        auto* s = new CMySliderControl(Qt::Horizontal, control);
        s->setGeometry(geometry);
        s->setRange(0, max);
        s->setValue(value);
    };
    slider({50, 0, 620, 20}, 1000, 460);
    slider({507, 38, 90, 20}, 350, 120);
    slider({621, 38, 99, 20}, 128, 63);
    button(control, 159, {17, 27, 38, 38});
    button(control, 160, {101, 27, 38, 38});
    button(control, 161, {171, 27, 38, 38});
    button(control, 163, {239, 27, 38, 38}, 162);
    button(control, 164, {309, 27, 38, 38});
    button(control, 165, {377, 27, 38, 38});

    // Vehicle panel at 87 km/h, 2450 rpm, left indicator and brake on, orange vehicle ahead.
    new Picture(&window, {0, 522, 720, 123},
                {{171, {0, 0}},
                 {267, {65, 93}},
                 {180, {22, 90}},
                 {188, {33, 90}},
                 {187, {44, 90}},
                 {176, {129, 95}},
                 {190, {171, 96}},
                 {192, {180, 96}},
                 {194, {189, 96}},
                 {195, {198, 96}},
                 {190, {207, 96}},
                 {172, {14, 40}},
                 {175, {181, 40}},
                 {177, {124, 40}},
                 {170, {68, 40}},
                 {253, {28, 2}},
                 {258, {157, 2}},
                 {242, {93, 2}},
                 {179, {240, 0}}});

    new Picture(&window, {720, 42, 360, 288},
                {{korean ? 217 : 254, {0, 0}, ResourceType::Bitmap},
                 {korean ? 216 : 247, {0, 43}, ResourceType::Bitmap},
                 {261, {0, 86}}});
    new Picture(&window, {720, 330, 360, 34},
                {{korean ? 211 : 228, {0, 0}, ResourceType::Bitmap},
                 {korean ? 213 : 235, {120, 0}, ResourceType::Bitmap},
                 {korean ? 215 : 243, {240, 0}, ResourceType::Bitmap}});
    auto* list = new Picture(&window, {720, 364, 360, 281}, {{207, {0, 0}}});
    const char* rows[][2] = {{"0000. 20240512_143015_N.mp4", "45.21 MB"},
                             {"0001. 20240512_143115_N.mp4", "45.18 MB"},
                             {"0002. 20240512_143215_N.mp4", "44.97 MB"}};
    for (int i = 0; i < 3; ++i) {
        label(list, QString::fromLatin1(rows[i][0]), {4, i * 20, 249, 20}, QColor(200, 200, 200),
              Qt::AlignLeft | Qt::AlignVCenter, 13);
        label(list, QString::fromLatin1(rows[i][1]), {253, i * 20, 90, 20}, QColor(200, 200, 200),
              Qt::AlignRight | Qt::AlignVCenter, 13);
    }
    window.ensurePolished();
    return window.grab().toImage();
}

void checkerboard(QPainter& painter, QRect rect) {
    painter.save();
    painter.setClipRect(rect);
    for (int y = rect.top(); y <= rect.bottom(); y += 6)
        for (int x = rect.left(); x <= rect.right(); x += 6)
            painter.fillRect(x, y, 6, 6,
                             ((x - rect.left()) / 6 + (y - rect.top()) / 6) % 2
                                 ? QColor(110, 110, 110)
                                 : QColor(140, 140, 140));
    painter.restore();
}

// Lays pictures out left to right in rows, each with its caption under it.
class Flow {
public:
    Flow(QPainter& painter, int top) : m_painter(painter), m_x(kMargin), m_y(top) {}

    void add(const QImage& image, const QString& caption) {
        const QFontMetrics metrics(m_painter.font());
        const int w = qMax(image.width(), metrics.horizontalAdvance(caption));
        if (m_x + w > kSheetWidth - kMargin && m_x > kMargin) newRow();
        const QRect target(QPoint(m_x, m_y), image.size());
        if (image.hasAlphaChannel()) checkerboard(m_painter, target);
        m_painter.drawImage(target.topLeft(), image);
        m_painter.setPen(kNote);
        m_painter.drawText(QPoint(m_x, m_y + image.height() + metrics.ascent() + 2), caption);
        m_rowHeight = qMax(m_rowHeight, image.height() + metrics.height() + 4);
        m_x += w + 14;
    }

    void newRow() {
        if (m_x == kMargin) return;
        m_y += m_rowHeight + 12;
        m_x = kMargin;
        m_rowHeight = 0;
    }

    void title(const QString& text) {
        m_painter.setPen(kCaption);
        const QFontMetrics metrics(m_painter.font());
        m_painter.drawText(QPoint(kMargin, m_y + metrics.ascent()), text);
        m_y += metrics.height() + 6;
    }

    int bottom() const { return m_y + m_rowHeight; }

private:
    QPainter& m_painter;
    int m_x;
    int m_y;
    int m_rowHeight = 0;
};

enum class State { Normal, Hover, Pressed, Toggled, ToggledHover, ToggledPressed, Disabled };

const char* nameOf(State state) {
    switch (state) {
    case State::Normal:
        return "normal";
    case State::Hover:
        return "hover";
    case State::Pressed:
        return "pressed";
    case State::Toggled:
        return "toggled";
    case State::ToggledHover:
        return "toggled hover";
    case State::ToggledPressed:
        return "toggled pressed";
    case State::Disabled:
        return "disabled";
    }
    return "";
}

// One button on the panel picture it sits on, put into a state with real events.
QImage buttonInState(int background, QPoint at, QSize size, int normal, int alternate,
                     State state) {
    Picture stage(nullptr, QRect(QPoint(0, 0), size), {{background, -at}});
    CGdipButton* b = button(&stage, normal, QRect(QPoint(0, 0), size), alternate);
    const QPointF centre = QRectF(b->rect()).center();
    const bool toggled =
        state == State::Toggled || state == State::ToggledHover || state == State::ToggledPressed;
    if (toggled) b->FlipToggle();
    if (state == State::Hover || state == State::ToggledHover) {
        QEnterEvent enter(centre, centre, centre);
        QApplication::sendEvent(b, &enter);
    }
    if (state == State::Pressed || state == State::ToggledPressed) {
        QMouseEvent press(QEvent::MouseButtonPress, centre, centre, Qt::LeftButton, Qt::LeftButton,
                          Qt::NoModifier);
        QApplication::sendEvent(b, &press);
    }
    if (state == State::Disabled) b->setEnabled(false);
    return stage.grab().toImage();
}

QImage sliderInState(int value, bool pressed) {
    Picture stage(nullptr, QRect(0, 0, 620, 20), {{158, {-50, 0}}});
    auto* s = new CMySliderControl(Qt::Horizontal, &stage);
    s->setGeometry(0, 0, 620, 20);
    s->setRange(0, 1000);
    s->setValue(value);
    if (pressed) {
        const QPointF at(s->thumbRect().center());
        QMouseEvent press(QEvent::MouseButtonPress, at, at, Qt::LeftButton, Qt::LeftButton,
                          Qt::NoModifier);
        QApplication::sendEvent(s, &press);
    }
    return stage.grab().toImage();
}

int heading(QPainter& painter, int y, const QString& text) {
    QFont font = painter.font();
    font.setPixelSize(18);
    font.setBold(true);
    painter.save();
    painter.setFont(font);
    painter.setPen(kCaption);
    painter.drawText(QPoint(kMargin, y + 18), text);
    painter.restore();
    return y + 30;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const QString output = argc > 1 ? QString::fromLocal8Bit(argv[1])
                                    : QDir(QCoreApplication::applicationDirPath())
                                          .filePath(QStringLiteral("velk-gallery.png"));

    QImage sheet(kSheetWidth, 4200, QImage::Format_RGB32);
    sheet.fill(kSheet);
    QPainter painter(&sheet);
    QFont font(QStringLiteral("Noto Sans CJK KR"));
    font.setPixelSize(11);
    painter.setFont(font);
    int y = kMargin;

    // The window in English and in Korean, side by side would not fit: one above the other,
    // the Korean one reduced to the panels that change.
    y = heading(painter, y, QStringLiteral("Main window (English set)"));
    const QImage english = mainWindowMockup(velk::LanguageEnglish);
    painter.drawImage(kMargin, y, english);
    const QImage korean = mainWindowMockup(velk::LanguageKorean);
    painter.drawText(QPoint(kMargin + 1100, y - 8),
                     QStringLiteral("Korean set: side panel and tabs"));
    painter.drawImage(QPoint(kMargin + 1100, y), korean.copy(720, 0, 360, 645));
    y += 645 + 24;

    y = heading(painter, y,
                QStringLiteral("Image buttons in each state (on their panel's picture)"));
    {
        struct Row {
            const char* name;
            int background;
            QPoint at;
            QSize size;
            int normal;
            int alternate;
        };
        const Row rows[] = {
            {"title: close 155", 147, {1028, 0}, {38, 42}, 155, 0},
            {"title: zoom 265", 147, {759, 0}, {47, 42}, 265, 0},
            {"open 159", 158, {17, 27}, {38, 38}, 159, 0},
            {"play/pause 163 / 162 (toggle)", 158, {239, 27}, {38, 38}, 163, 162},
        };
        const QFontMetrics metrics(painter.font());
        for (const Row& row : rows) {
            painter.setPen(kCaption);
            painter.drawText(QPoint(kMargin, y + 24), QString::fromLatin1(row.name));
            int x = kMargin + 200;
            QList<State> states = {State::Normal, State::Hover, State::Pressed, State::Disabled};
            if (row.alternate)
                states = {State::Normal,  State::Hover,        State::Pressed,
                          State::Toggled, State::ToggledHover, State::ToggledPressed};
            for (State state : states) {
                const QImage image = buttonInState(row.background, row.at, row.size, row.normal,
                                                   row.alternate, state);
                painter.drawImage(x, y, image.scaled(image.size() * 2));
                painter.setPen(kNote);
                painter.drawText(QPoint(x, y + image.height() * 2 + metrics.ascent() + 2),
                                 QString::fromLatin1(nameOf(state)));
                x += qMax(image.width() * 2, 90) + 16;
            }
            y += 2 * row.size.height() + 30;
        }
        painter.setPen(kNote);
        painter.drawText(QPoint(kMargin, y), QStringLiteral("(buttons drawn at 2x)"));
        y += 16;
    }

    y = heading(painter, y, QStringLiteral("Seek slider 620 x 20, range 0..1000"));
    {
        const QFontMetrics metrics(painter.font());
        const struct {
            int value;
            bool pressed;
        } sliders[] = {{0, false}, {250, false}, {501, false}, {1000, false}, {501, true}};
        for (const auto& s : sliders) {
            painter.drawImage(kMargin, y, sliderInState(s.value, s.pressed));
            painter.setPen(kNote);
            painter.drawText(
                QPoint(kMargin + 640, y + 14),
                QStringLiteral("position %1%2").arg(s.value).arg(s.pressed ? ", pressed" : ""));
            y += 28;
        }
        Q_UNUSED(metrics);
    }
    y += 8;

    y = heading(painter, y, QStringLiteral("Status text (CNoFlickerStatic)"));
    {
        QWidget holder;
        holder.resize(300, 20);
        auto* status = new CNoFlickerStatic(&holder);
        status->setGeometry(0, 0, 300, 20);
        status->SetText(QStringLiteral("Copying 3 / 10: 20240512_143015_N.mp4"));
        painter.drawImage(kMargin, y, holder.grab().toImage());
        y += 32;
    }

    y = heading(painter, y, QStringLiteral("Every picture at its own size: number, type, size"));
    {
        using Key = QPair<int, ResourceType>;
        const ResourceType P = ResourceType::Png, B = ResourceType::Bitmap;
        struct Group {
            const char* title;
            QList<Key> keys;
        };
        QList<Group> groups = {
            {"Main window: title bar, its buttons, list background, program icon",
             {{147, P},
              {265, P},
              {255, P},
              {148, P},
              {149, P},
              {151, P},
              {153, P},
              {155, P},
              {207, P},
              {128, ResourceType::Icon}}},
            {"Tabs: Korean set, English set (selected / unselected)",
             {{211, B},
              {210, B},
              {212, B},
              {213, B},
              {214, B},
              {215, B},
              {228, B},
              {230, B},
              {232, B},
              {235, B},
              {239, B},
              {243, B}}},
            {"Control panel",
             {{158, P},
              {159, P},
              {160, P},
              {161, P},
              {162, P},
              {163, P},
              {164, P},
              {165, P},
              {224, P},
              {226, P}}},
            {"Vehicle information panel", {{171, P}, {179, P}, {267, P}, {268, P}, {176, P}}},
            {"Vehicle information panel: lamps",
             {{172, P},
              {173, P},
              {174, P},
              {175, P},
              {177, P},
              {178, P},
              {266, P},
              {169, P},
              {170, P},
              {251, P},
              {253, P},
              {256, P},
              {258, P},
              {240, P},
              {242, P},
              {246, P},
              {248, P}}},
            {"Vehicle information panel: digits", {}},
            {"Side panel: header bars (Korean / English) and placeholders",
             {{216, B}, {247, B}, {217, B}, {254, B}, {271, B}, {272, B}, {168, P}, {261, P}}},
            {"Front video panel", {{157, P}}},
        };
        for (int d = 180; d <= 199; ++d)
            groups[5].keys.append({d, P});
        // Anything compiled in that no group names still shows, last.
        Group others{"Not placed on any panel above", {}};
        for (ResourceType type : {P, B, ResourceType::Icon}) {
            for (int number : velk::resourceNumbers(type)) {
                bool listed = false;
                for (const Group& g : groups)
                    listed = listed || g.keys.contains(Key(number, type));
                if (!listed) others.keys.append({number, type});
            }
        }
        if (!others.keys.isEmpty()) groups.append(others);

        Flow flow(painter, y);
        for (const Group& group : groups) {
            flow.title(QString::fromLatin1(group.title));
            for (const Key& key : group.keys) {
                const char* typeName = key.second == P   ? "png"
                                       : key.second == B ? "bitmap"
                                                         : "icon";
                const QImage image = velk::resourceImage(key.first, key.second);
                if (image.isNull()) {
                    std::fprintf(stderr, "velk-gallery: %s %d is missing or does not decode\n",
                                 typeName, key.first);
                    flow.add(QImage(), QStringLiteral("%1 %2 MISSING")
                                           .arg(key.first)
                                           .arg(QLatin1String(typeName)));
                    continue;
                }
                flow.add(image,
                         QStringLiteral("%1 %2 %3x%4%5")
                             .arg(key.first)
                             .arg(QLatin1String(typeName))
                             .arg(image.width())
                             .arg(image.height())
                             .arg(image.hasAlphaChannel() ? QStringLiteral(" alpha") : QString()));
            }
            flow.newRow();
        }
        y = flow.bottom() + kMargin;
    }
    painter.end();

    sheet = sheet.copy(0, 0, kSheetWidth, qMin(y, sheet.height()));
    if (!sheet.save(output)) {
        std::fprintf(stderr, "velk-gallery: cannot write %s\n", qPrintable(output));
        return 1;
    }
    std::printf("%s\n", qPrintable(output));
    return 0;
}
