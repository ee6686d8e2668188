#include <QAction>
#include <QApplication>
#include <QKeySequence>
#include <QMenu>
#include <QStringList>
#include <QVariant>

#include "application.h"
#include "core/text.h"
#include "native.h"

namespace fw {

namespace {

// "Cmd+Shift+Q" in the framework's notation as Qt reads it.
QKeySequence ShortcutOf(const std::string& shortcut) {
    if (shortcut.empty()) return {};
    QStringList parts = QString::fromStdString(shortcut).split(QLatin1Char('+'));
    QStringList out;
    for (qsizetype i = 0; i < parts.size(); ++i) {
        QString part = parts[i].trimmed();
        bool isKey = i == parts.size() - 1;
        if (isKey && part.isEmpty()) part = QStringLiteral("+");
        if (!isKey) {
            QString m = part.toLower();
            if (m == QLatin1String("cmd") || m == QLatin1String("command") ||
                m == QLatin1String("ctrl") || m == QLatin1String("control"))
                part = QStringLiteral("Ctrl");
            else if (m == QLatin1String("option") || m == QLatin1String("alt"))
                part = QStringLiteral("Alt");
            else if (m == QLatin1String("shift"))
                part = QStringLiteral("Shift");
        }
        out << part;
    }
    return QKeySequence::fromString(out.join(QLatin1Char('+')), QKeySequence::PortableText);
}

bool EffectiveEnabled(const MenuItem& item) {
    return item.AutoEnable() || item.Enabled();
}

}  // namespace

// MenuItem

MenuItem::MenuItem() = default;

MenuItem::~MenuItem() {
    for (auto& c : children_)
        if (c->parent_ == this) c->parent_ = nullptr;
}

Ref<MenuItem> MenuItem::Parent() const {
    if (!parent_) return nullptr;
    return Ref<MenuItem>(parent_->weak_from_this().lock());
}

void MenuItem::SetName(const std::string& name) {
    name_ = name;
    Changed();
}

void MenuItem::SetText(const std::string& text) {
    text_ = text;
    Changed();
}

void MenuItem::SetKeyboardShortcut(const std::string& shortcut) {
    shortcut_ = shortcut;
    Changed();
}

void MenuItem::SetAutoEnable(bool v) {
    autoEnable_ = v;
    Changed();
}

void MenuItem::SetEnabled(bool v) {
    enabled_ = v;
    Changed();
}

void MenuItem::Append(Ref<MenuItem> item) {
    if (!item) throw NilObjectException("Append of a nil menu item");
    for (MenuItem* up = this; up; up = up->parent_)
        if (up == item.Get()) throw RuntimeException("A menu item cannot hold itself");
    if (MenuItem* old = item->parent_) {
        std::erase_if(old->children_,
                      [&](const Ref<MenuItem>& c) { return c.Get() == item.Get(); });
        old->Changed();
    }
    item->parent_ = this;
    children_.push_back(std::move(item));
    Changed();
}

Ref<MenuItem> MenuItem::Item(int32_t index) const {
    if (index < 0 || index >= Count()) throw OutOfBoundsException("Menu item index out of bounds");
    return children_[static_cast<size_t>(index)];
}

Ref<MenuItem> MenuItem::Child(const std::string& name) const {
    for (const auto& c : children_)
        if (TextEquals(c->Name(), name)) return c;
    return nullptr;
}

Ref<MenuItem> MenuItem::Lookup(const std::string& name) const {
    for (const auto& c : children_) {
        if (TextEquals(c->Name(), name)) return c;
        if (Ref<MenuItem> below = c->Lookup(name)) return below;
    }
    return nullptr;
}

void MenuItem::Changed() {
    MenuItem* top = this;
    while (top->parent_) top = top->parent_;
    auto* bar = dynamic_cast<MenuBar*>(top);
    if (!bar) return;
    // A copy: a view may go away while the others rebuild.
    std::vector<QPointer<NativeMenuBar>> views = bar->Native().views;
    for (auto& v : views)
        if (v) v->Rebuild();
}

// MenuBar

MenuBar::MenuBar() : impl_(std::make_unique<Impl>()) {}

MenuBar::~MenuBar() = default;

// NativeMenuBar

NativeMenuBar::NativeMenuBar(fw::Window* owner, const Ref<fw::MenuBar>& model)
    : owner_(owner), model_(model.Shared()) {
    auto& views = model->Native().views;
    std::erase_if(views, [](const QPointer<NativeMenuBar>& v) { return v.isNull(); });
    views.emplace_back(this);
    Rebuild();
}

NativeMenuBar::~NativeMenuBar() = default;

void NativeMenuBar::Rebuild() {
    // Nothing is deleted at once: an action may be the one whose signal is being delivered.
    for (QAction* a : actions()) removeAction(a);
    for (auto& o : built_)
        if (o) o->deleteLater();
    built_.clear();
    if (auto model = model_.lock()) AddItems(this, *model);
}

void NativeMenuBar::AddItems(QWidget* menu, const fw::MenuItem& parent) {
    for (int32_t i = 0; i < parent.Count(); ++i) {
        Ref<MenuItem> item = parent.Item(i);
        QAction* action = nullptr;
        if (item->IsSeparator()) {
            action = new QAction(menu);
            action->setSeparator(true);
        } else if (item->Count() > 0) {
            auto* sub = new QMenu(QString::fromStdString(item->Text()), menu);
            built_.emplace_back(sub);
            AddItems(sub, *item);
            action = sub->menuAction();
        } else {
            action = new QAction(QString::fromStdString(item->Text()), menu);
            action->setShortcut(ShortcutOf(item->KeyboardShortcut()));
            std::weak_ptr<MenuItem> weak = item.Shared();
            QObject::connect(action, &QAction::triggered, this, [this, weak] { Chosen(weak); });
        }
        action->setObjectName(QString::fromStdString(item->Name()));
        // About and Quit stay where the program put them, on every platform.
        action->setMenuRole(QAction::NoRole);
        action->setEnabled(EffectiveEnabled(*item));
        if (action->parent() == menu) built_.emplace_back(action);
        menu->addAction(action);
    }
}

void NativeMenuBar::Chosen(const std::weak_ptr<fw::MenuItem>& item) {
    Ref<MenuItem> chosen(item.lock());
    if (!chosen || !owner_) return;
    Ref<fw::Window> keep = owner_->shared_from_this();
    owner_->MenuCommand(chosen->Name());
}

QMenuBar* NativeMenuBarOf(fw::Window& w) {
    return w.Native().menuBar;
}

}  // namespace fw
