#include <QApplication>
#include <QComboBox>
#include <QEnterEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>
#include <QTimer>
#include <QWheelEvent>

#include <utility>

#include "application.h"
#include "controls.h"
#include "native.h"
#include "picture_impl.h"

namespace fw {

namespace {

// Leaves focus and wheel to the window: the window's handlers step the selection once per
// key press or notch.
class NoFocusComboBox : public QComboBox {
public:
    NoFocusComboBox() { setFocusPolicy(Qt::NoFocus); }

protected:
    void wheelEvent(QWheelEvent* e) override { e->ignore(); }
};

class MouseLabel : public QLabel {
public:
    explicit MouseLabel(StaticText* owner) : owner_(owner) {
        setTextFormat(Qt::PlainText);
        setFocusPolicy(Qt::NoFocus);
    }
    void Detach() { owner_ = nullptr; }

protected:
    void enterEvent(QEnterEvent*) override {
        if (owner_) Guard([&] { owner_->Event_MouseEnter(); });
    }
    void leaveEvent(QEvent*) override {
        if (owner_) Guard([&] { owner_->Event_MouseExit(); });
    }
    // The mouse events are the primary button's; the second press of a double click belongs
    // to the click that began it, so that a double click is still one click.
    void mousePressEvent(QMouseEvent* e) override {
        const QPoint p = e->position().toPoint();
        taken_ = e->button() == Qt::LeftButton && owner_ &&
                 Guard([&] { return owner_->Event_MouseDown(p.x(), p.y()); });
        if (taken_)
            e->accept();
        else
            e->ignore();
    }
    void mouseDoubleClickEvent(QMouseEvent* e) override { e->accept(); }
    void mouseReleaseEvent(QMouseEvent* e) override {
        if (e->button() != Qt::LeftButton || !std::exchange(taken_, false)) return e->ignore();
        const QPoint p = e->position().toPoint();
        if (owner_) Guard([&] { owner_->Event_MouseUp(p.x(), p.y()); });
        e->accept();
    }

private:
    StaticText* owner_;
    bool taken_ = false;  // the press went to the owner, which gets the release
};

QComboBox* Combo(RectControl& c) {
    return static_cast<QComboBox*>(c.Native().widget.data());
}
QLabel* Label(RectControl& c) {
    return static_cast<QLabel*>(c.Native().widget.data());
}
QTextEdit* TextEdit(const RectControl& c) {
    return static_cast<QTextEdit*>(const_cast<RectControl&>(c).Native().widget.data());
}

// The font of a control: "System" is the application's font; sizes are pixels.
QFont ControlFont(const std::string& family, int32_t size, bool bold, bool italic, bool underline) {
    QFont f = QApplication::font();
    if (family != "System" && !family.empty()) f.setFamily(QString::fromStdString(family));
    if (size > 0) f.setPixelSize(size);
    f.setBold(bold);
    f.setItalic(italic);
    f.setUnderline(underline);
    return f;
}

// Every line break (CR LF, CR or LF) as the LF that Qt's plain text takes.
QString PlainLines(const std::string& text) {
    QString s = QString::fromStdString(text);
    s.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    s.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return s;
}

}  // namespace

// Control

Control::~Control() = default;

Ref<Window> Control::Window() const {
    return Ref<fw::Window>(window_.lock());
}

void Control::Event_Open() {
    if (Open) Open();
}

void Control::AttachTo(fw::Window&) {}

// RectControl

RectControl::RectControl(std::unique_ptr<NativeWidget> native) : native_(std::move(native)) {}

RectControl::~RectControl() = default;

void RectControl::AttachTo(fw::Window& window) {
    if (QWidget* w = native_->widget) {
        w->setParent(window.Native().content);
        w->setGeometry(left_, top_, width_, height_);
        w->setVisible(visible_);
    }
}

int32_t RectControl::Left() const {
    return left_;
}
int32_t RectControl::Top() const {
    return top_;
}
int32_t RectControl::Width() const {
    return width_;
}
int32_t RectControl::Height() const {
    return height_;
}

void RectControl::SetBounds(int32_t left, int32_t top, int32_t width, int32_t height) {
    left_ = left;
    top_ = top;
    width_ = width;
    height_ = height;
    if (QWidget* w = native_->widget) w->setGeometry(left_, top_, width_, height_);
}

void RectControl::SetLeft(int32_t v) {
    SetBounds(v, top_, width_, height_);
}
void RectControl::SetTop(int32_t v) {
    SetBounds(left_, v, width_, height_);
}
void RectControl::SetWidth(int32_t v) {
    SetBounds(left_, top_, v, height_);
}
void RectControl::SetHeight(int32_t v) {
    SetBounds(left_, top_, width_, v);
}

bool RectControl::Visible() const {
    return visible_;
}

void RectControl::SetVisible(bool v) {
    visible_ = v;
    if (QWidget* w = native_->widget) w->setVisible(v);
}

bool RectControl::Enabled() const {
    return native_->widget && native_->widget->isEnabled();
}

void RectControl::SetEnabled(bool v) {
    if (QWidget* w = native_->widget) w->setEnabled(v);
}

void RectControl::SetHelpTag(const std::string& text) {
    if (QWidget* w = native_->widget) w->setToolTip(QString::fromStdString(text));
}

// PopupMenu

PopupMenu::PopupMenu() : RectControl(std::make_unique<NativeWidget>(new NoFocusComboBox)) {
    QComboBox* combo = Combo(*this);
    combo->setCurrentIndex(-1);
    QObject::connect(combo, QOverload<int>::of(&QComboBox::activated), combo,
                     [this](int row) { SetListIndex(row); });
}

PopupMenu::~PopupMenu() = default;

void PopupMenu::AddRow(const std::string& text) {
    QComboBox* combo = Combo(*this);
    QSignalBlocker block(combo);
    int selected = combo->currentIndex();
    combo->addItem(QString::fromStdString(text));
    // Adding the first row must not select it: only ListIndex selects.
    combo->setCurrentIndex(selected);
    tags_.emplace_back();
}

void PopupMenu::DeleteAllRows() {
    QComboBox* combo = Combo(*this);
    QSignalBlocker block(combo);
    combo->clear();
    tags_.clear();
}

int32_t PopupMenu::ListCount() const {
    return static_cast<int32_t>(tags_.size());
}

std::string PopupMenu::List(int32_t row) const {
    if (row < 0 || row >= ListCount()) throw OutOfBoundsException("List row out of bounds");
    return Combo(const_cast<PopupMenu&>(*this))->itemText(row).toStdString();
}

Variant PopupMenu::RowTag(int32_t row) const {
    if (row < 0 || row >= ListCount()) throw OutOfBoundsException("RowTag row out of bounds");
    return tags_[static_cast<size_t>(row)];
}

void PopupMenu::SetRowTag(int32_t row, Variant tag) {
    if (row < 0 || row >= ListCount()) throw OutOfBoundsException("RowTag row out of bounds");
    tags_[static_cast<size_t>(row)] = std::move(tag);
}

int32_t PopupMenu::ListIndex() const {
    return Combo(const_cast<PopupMenu&>(*this))->currentIndex();
}

void PopupMenu::SetListIndex(int32_t index) {
    if (index < -1 || index >= ListCount()) return;
    QComboBox* combo = Combo(*this);
    {
        QSignalBlocker block(combo);
        combo->setCurrentIndex(index);
    }
    if (Change) Change();
}

// StaticText

StaticText::StaticText() : RectControl(std::make_unique<NativeWidget>(nullptr)) {
    Native().widget = new MouseLabel(this);
    SetTextAlign(0);
    SetMultiline(false);
    ApplyFont();
}

StaticText::~StaticText() {
    if (auto* label = static_cast<MouseLabel*>(Native().widget.data())) label->Detach();
}

void StaticText::SetText(const std::string& text) {
    text_ = text;
    Label(*this)->setText(QString::fromStdString(text));
}

void StaticText::SetTextColor(Color c) {
    color_ = c;
    QPalette pal = Label(*this)->palette();
    pal.setColor(QPalette::WindowText, QColor(c.Red, c.Green, c.Blue));
    Label(*this)->setPalette(pal);
}

void StaticText::SetUnderline(bool v) {
    underline_ = v;
    ApplyFont();
}

void StaticText::SetBold(bool v) {
    bold_ = v;
    ApplyFont();
}

void StaticText::SetItalic(bool v) {
    italic_ = v;
    ApplyFont();
}

void StaticText::SetTextSize(int32_t size) {
    size_ = size;
    ApplyFont();
}

void StaticText::SetTextFont(const std::string& font) {
    font_ = font;
    ApplyFont();
}

void StaticText::ApplyFont() {
    Label(*this)->setFont(ControlFont(font_, size_, bold_, italic_, underline_));
}

void StaticText::SetTextAlign(int32_t align) {
    Qt::Alignment h = align == 1 ? Qt::AlignHCenter : align == 2 ? Qt::AlignRight : Qt::AlignLeft;
    QLabel* label = Label(*this);
    label->setAlignment(h | (label->wordWrap() ? Qt::AlignTop : Qt::AlignVCenter));
}

void StaticText::SetMultiline(bool v) {
    QLabel* label = Label(*this);
    label->setWordWrap(v);
    Qt::Alignment h = label->alignment() & Qt::AlignHorizontal_Mask;
    label->setAlignment(h | (v ? Qt::AlignTop : Qt::AlignVCenter));
}

// EditField

EditField::EditField() : RectControl(std::make_unique<NativeWidget>(new QTextEdit)) {
    QTextEdit* edit = TextEdit(*this);
    edit->setAcceptRichText(false);
    edit->setTabChangesFocus(true);
    QObject::connect(edit, &QTextEdit::textChanged, edit, [this] {
        if (!settingText_) text_ = TextEdit(*this)->toPlainText().toStdString();
    });
    SetMultiline(false);
    SetTextColor(textColor_);
    SetBackColor(backColor_);
    ApplyFont();
}

EditField::~EditField() = default;

void EditField::SetText(const std::string& text) {
    QTextEdit* edit = TextEdit(*this);
    settingText_ = true;
    edit->setPlainText(PlainLines(text));
    settingText_ = false;
    text_ = text;
    SetAlignment(align_);
}

bool EditField::ReadOnly() const {
    return TextEdit(*this)->isReadOnly();
}

void EditField::SetReadOnly(bool v) {
    TextEdit(*this)->setReadOnly(v);
}

void EditField::SetMultiline(bool v) {
    multiline_ = v;
    ApplyWrap();
}

void EditField::ApplyWrap() {
    TextEdit(*this)->setLineWrapMode(multiline_ ? QTextEdit::WidgetWidth : QTextEdit::NoWrap);
}

void EditField::SetScrollbarVertical(bool v) {
    TextEdit(*this)->setVerticalScrollBarPolicy(v ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
}

void EditField::SetScrollbarHorizontal(bool v) {
    TextEdit(*this)->setHorizontalScrollBarPolicy(v ? Qt::ScrollBarAlwaysOn
                                                    : Qt::ScrollBarAlwaysOff);
}

void EditField::SetBorder(bool v) {
    TextEdit(*this)->setFrameShape(v ? QFrame::StyledPanel : QFrame::NoFrame);
}

void EditField::SetAlignment(int32_t align) {
    align_ = align;
    Qt::Alignment h = align == 2 ? Qt::AlignHCenter : align == 3 ? Qt::AlignRight : Qt::AlignLeft;
    QTextEdit* edit = TextEdit(*this);
    bool modified = edit->document()->isModified();
    settingText_ = true;
    QTextCursor all(edit->document());
    all.select(QTextCursor::Document);
    QTextBlockFormat format;
    format.setAlignment(h);
    all.mergeBlockFormat(format);
    settingText_ = false;
    edit->document()->setModified(modified);
}

void EditField::SetAcceptTabs(bool v) {
    TextEdit(*this)->setTabChangesFocus(!v);
}

void EditField::SetTextColor(Color c) {
    textColor_ = c;
    QPalette pal = TextEdit(*this)->palette();
    pal.setColor(QPalette::Text, QColor(c.Red, c.Green, c.Blue));
    TextEdit(*this)->setPalette(pal);
}

void EditField::SetBackColor(Color c) {
    backColor_ = c;
    QPalette pal = TextEdit(*this)->palette();
    pal.setColor(QPalette::Base, QColor(c.Red, c.Green, c.Blue));
    TextEdit(*this)->setPalette(pal);
}

void EditField::SetTextSize(int32_t size) {
    size_ = size;
    ApplyFont();
}

void EditField::SetTextFont(const std::string& font) {
    font_ = font;
    ApplyFont();
}

void EditField::ApplyFont() {
    TextEdit(*this)->setFont(ControlFont(font_, size_, false, false, false));
}

// Canvas

Canvas::Canvas() : RectControl(std::make_unique<NativeWidget>(new QLabel)) {
    Label(*this)->setFocusPolicy(Qt::NoFocus);
    Label(*this)->setAlignment(Qt::AlignLeft | Qt::AlignTop);
}

Canvas::~Canvas() = default;

void Canvas::SetBackdrop(Ref<Picture> picture) {
    backdrop_ = std::move(picture);
    if (backdrop_)
        Label(*this)->setPixmap(QPixmap::fromImage(DisplayImage(*backdrop_)));
    else
        Label(*this)->clear();
}

// Timer

struct Timer::Impl {
    QTimer timer;
};

Timer::Timer() : impl_(std::make_unique<Impl>()) {
    QObject::connect(&impl_->timer, &QTimer::timeout, [this] { Fire(); });
}

Timer::~Timer() = default;

void Timer::AttachTo(fw::Window& window) {
    ownerOpen_ = window.OpenReturned();
    Apply();
}

void Timer::OwnerOpened() {
    ownerOpen_ = true;
    Apply();
}

void Timer::OwnerClosed() {
    ownerOpen_ = false;
    Apply();
}

void Timer::SetMode(int32_t mode) {
    mode_ = mode;
    Apply();
}

void Timer::SetPeriod(int32_t milliseconds) {
    period_ = milliseconds;
    Apply();
}

void Timer::SetEnabled(bool v) {
    enabled_ = v;
    Apply();
}

void Timer::Apply() {
    if (mode_ == 0 || !enabled_ || !ownerOpen_) {
        impl_->timer.stop();
        return;
    }
    impl_->timer.setSingleShot(mode_ == 1);
    impl_->timer.start(period_ > 0 ? period_ : 1);
}

void Timer::Fire() {
    Ref<Control> keep = shared_from_this();
    if (mode_ == 1) mode_ = 0;
    if (Action) Guard([&] { Action(); });
}

}  // namespace fw
