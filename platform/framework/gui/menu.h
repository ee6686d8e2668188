#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/ref.h"

namespace fw {

class MenuBar;

// A menu item. An item that holds child items is a menu: at the top of a bar it is a menu
// title, further down a submenu. A window that has the bar shows it above its content.
class MenuItem : public std::enable_shared_from_this<MenuItem> {
public:
    MenuItem();
    virtual ~MenuItem();
    MenuItem(const MenuItem&) = delete;
    MenuItem& operator=(const MenuItem&) = delete;

    // The key by which handlers find the item; names compare without regard to case.
    std::string Name() const { return name_; }
    void SetName(const std::string& name);
    // What the user sees. "&" marks the access key ("&&" shows one "&"); "-" is a separator.
    std::string Text() const { return text_; }
    void SetText(const std::string& text);
    // "Cmd+Q" style: "Cmd" means Ctrl, "Option" means Alt; empty means none.
    std::string KeyboardShortcut() const { return shortcut_; }
    void SetKeyboardShortcut(const std::string& shortcut);
    // When true the framework keeps the item enabled by itself; when false the item is as
    // enabled as Enabled says.
    bool AutoEnable() const { return autoEnable_; }
    void SetAutoEnable(bool v);
    bool Enabled() const { return enabled_; }
    void SetEnabled(bool v);

    // Appends an item at the end of this one's children; an item has one parent at a time.
    void Append(Ref<MenuItem> item);
    int32_t Count() const { return static_cast<int32_t>(children_.size()); }
    Ref<MenuItem> Item(int32_t index) const;
    // The direct child with that name; nil when there is none.
    Ref<MenuItem> Child(const std::string& name) const;
    // The item with that name anywhere below this one, depth first; nil when there is none.
    Ref<MenuItem> Lookup(const std::string& name) const;
    // The item this one was appended to; nil for a bar or an item not appended yet.
    Ref<MenuItem> Parent() const;

    bool IsSeparator() const { return text_ == "-"; }

protected:
    // Tells the windows that show the bar this item belongs to that it changed.
    void Changed();

private:
    // Plain, since a bar appends its menus while it is being constructed; the parent clears
    // it when it goes.
    MenuItem* parent_ = nullptr;
    std::vector<Ref<MenuItem>> children_;
    std::string name_, text_, shortcut_;
    bool autoEnable_ = true;
    bool enabled_ = true;
};

// An item that belongs to the application's own menu (About, Check for Updates). On this
// platform it stays where the program appended it.
class AppleMenuItem : public MenuItem {};

// The application's Quit command. It stays where the program appended it.
class QuitMenuItem : public MenuItem {};

// A menu bar: a menu item whose children are the menus. One bar may be shown by several
// windows at once; each shows its own copy and sends the chosen items to its own handlers.
class MenuBar : public MenuItem {
public:
    MenuBar();
    ~MenuBar() override;

    struct Impl;
    Impl& Native() { return *impl_; }

private:
    std::unique_ptr<Impl> impl_;
};

}  // namespace fw
