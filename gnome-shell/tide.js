// Tide's button in GNOME Shell's top bar: the gauge and the figure, drawn from what the running
// Tide tells over the session bus (dev.tide.monitor, /StatusItem). One source for both forms of
// extension GNOME loads: the build writes it out as a module (GNOME 45 and later) and as a legacy
// script (GNOME 43 and 44), which differ only in how the shell's modules reach this code.

const ITEM_XML = `<node>
  <interface name="dev.tide.monitor.StatusItem">
    <property name="Title" type="s" access="read"/>
    <property name="AccessibleName" type="s" access="read"/>
    <property name="PictureSerial" type="u" access="read"/>
    <method name="Picture"><arg type="i" direction="in"/><arg type="ay" direction="out"/></method>
    <method name="Activate">
      <arg type="i" direction="in"/><arg type="i" direction="in"/>
      <arg type="i" direction="in"/><arg type="i" direction="in"/>
    </method>
    <method name="ContextMenu">
      <arg type="i" direction="in"/><arg type="i" direction="in"/>
      <arg type="i" direction="in"/><arg type="i" direction="in"/>
    </method>
    <signal name="Changed">
      <arg type="s" name="title"/><arg type="s" name="accessibleName"/>
      <arg type="u" name="pictureSerial"/>
    </signal>
  </interface>
</node>`;

const EXTENSION_NAME = 'dev.tide.monitor.GnomeShell';
const ITEM_NAME = 'dev.tide.monitor';
const ITEM_PATH = '/StatusItem';
const MENU_PATH = '/StatusItem/Menu'; // Tide's settings menu, as com.canonical.dbusmenu
const MENU_INTERFACE = 'com.canonical.dbusmenu';
const PICTURE_HEIGHT = 16; // logical pixels: the top bar's icon size

// Everything the button needs from GNOME: gi modules and the shell's UI modules.
// { Gio, GLib, GObject, St, Clutter, Main, PanelMenu, PopupMenu }
export class TideButtonController {
    constructor(shell) {
        this._shell = shell;
        this._button = null;
        this._proxy = null;
        this._ownerId = 0;
        this._watchId = 0;
        this._changedId = 0;
        this._cancellable = null;
        this._menu = null;
        this._pictureSerial = -1;
        this._scaleId = 0;
    }

    enable() {
        const {Gio} = this._shell;
        // Tide shows its item here while this name is on the bus ...
        this._ownerId = Gio.bus_own_name(Gio.BusType.SESSION, EXTENSION_NAME,
            Gio.BusNameOwnerFlags.NONE, null, null, null);
        // ... and the button is here while Tide's item is.
        this._watchId = Gio.bus_watch_name(Gio.BusType.SESSION, ITEM_NAME,
            Gio.BusNameWatcherFlags.NONE,
            () => this._itemAppeared(), () => this._itemVanished());
    }

    disable() {
        const {Gio} = this._shell;
        if (this._watchId) Gio.bus_unwatch_name(this._watchId);
        if (this._ownerId) Gio.bus_unown_name(this._ownerId);
        this._watchId = this._ownerId = 0;
        this._itemVanished();
    }

    _itemAppeared() {
        const {Gio} = this._shell;
        this._itemVanished();
        this._cancellable = new Gio.Cancellable();
        const Proxy = Gio.DBusProxy.makeProxyWrapper(ITEM_XML);
        const cancellable = this._cancellable;
        Proxy(Gio.DBus.session, ITEM_NAME, ITEM_PATH, (proxy, error) => {
            if (error || cancellable.is_cancelled()) return;
            this._proxy = proxy;
            this._changedId = proxy.connectSignal('Changed',
                (p, sender, [title, name, serial]) => this._show(title, name, serial));
            this._makeButton();
            this._show(proxy.Title, proxy.AccessibleName, proxy.PictureSerial);
        }, cancellable, Gio.DBusProxyFlags.GET_INVALIDATED_PROPERTIES);
    }

    _itemVanished() {
        if (this._cancellable) this._cancellable.cancel();
        this._cancellable = null;
        if (this._proxy && this._changedId) this._proxy.disconnectSignal(this._changedId);
        this._proxy = null;
        this._changedId = 0;
        this._destroyMenu();
        if (this._scaleId)
            this._shell.St.ThemeContext.get_for_stage(global.stage).disconnect(this._scaleId);
        this._scaleId = 0;
        if (this._button) this._button.destroy();
        this._button = null;
        this._pictureSerial = -1;
    }

    _makeButton() {
        const {St, Clutter, Main, PanelMenu} = this._shell;
        const button = new PanelMenu.Button(0.0, 'Tide', true);
        const box = new St.BoxLayout({style_class: 'panel-status-menu-box'});
        this._icon = new St.Icon({style_class: 'system-status-icon', y_align: Clutter.ActorAlign.CENTER});
        this._label = new St.Label({text: '', y_align: Clutter.ActorAlign.CENTER});
        box.add_child(this._icon);
        box.add_child(this._label);
        button.add_child(box);
        button.connect('button-press-event', (actor, event) => this._pressed(event));
        button.connect('key-press-event', (actor, event) => this._keyPressed(event));
        this._button = button;
        Main.panel.addToStatusArea('tide-monitor', button);
        // A new scale wants the picture at the new size.
        const theme = St.ThemeContext.get_for_stage(global.stage);
        this._scaleId = theme.connect('notify::scale-factor', () => {
            this._pictureSerial = -1;
            if (this._proxy)
                this._show(this._label.text, this._button.accessible_name, this._proxy.PictureSerial);
        });
    }

    // The title beside the picture, and the tool tip's text as the button's accessible name
    // (GNOME shows no tool tips); the picture, at the screen's scale, only when it is new.
    _show(title, name, serial) {
        const {Gio, GLib, St} = this._shell;
        const proxy = this._proxy;
        if (!proxy || !this._button) return;
        // (Set only when new: a label set anew is laid out and drawn anew.)
        if (this._label.text !== (title || '')) this._label.text = title || '';
        if (this._button.accessible_name !== (name || title || ''))
            this._button.accessible_name = name || title || '';
        if (serial === this._pictureSerial) return;
        this._pictureSerial = serial;
        const scale = St.ThemeContext.get_for_stage(global.stage).scale_factor;
        proxy.PictureRemote(PICTURE_HEIGHT * scale, (result, error) => {
            if (error || !this._button || !result) return;
            const [bytes] = result;
            if (!bytes || bytes.length === 0) {
                this._icon.visible = false;
                return;
            }
            this._icon.gicon = Gio.BytesIcon.new(GLib.Bytes.new(bytes));
            this._icon.icon_size = PICTURE_HEIGHT;
            this._icon.visible = true;
        });
    }

    _rectangle() {
        const [x, y] = this._button.get_transformed_position();
        const [width, height] = this._button.get_transformed_size();
        return [Math.round(x), Math.round(y), Math.round(width), Math.round(height)];
    }

    _pressed(event) {
        const {Clutter} = this._shell;
        if (!this._proxy) return Clutter.EVENT_PROPAGATE;
        const button = event.get_button();
        const control = (event.get_state() & Clutter.ModifierType.CONTROL_MASK) !== 0;
        const [x, y, w, h] = this._rectangle();
        if (button === 3 || (button === 1 && control))
            this._showMenu();
        else if (button === 1)
            this._proxy.ActivateRemote(x, y, w, h, () => {});
        return Clutter.EVENT_STOP;
    }

    _keyPressed(event) {
        const {Clutter} = this._shell;
        const key = event.get_key_symbol();
        if (!this._proxy) return Clutter.EVENT_PROPAGATE;
        const [x, y, w, h] = this._rectangle();
        if (key === Clutter.KEY_Return || key === Clutter.KEY_space || key === Clutter.KEY_KP_Enter) {
            this._proxy.ActivateRemote(x, y, w, h, () => {});
            return Clutter.EVENT_STOP;
        }
        if (key === Clutter.KEY_Menu || (key === Clutter.KEY_F10 &&
            (event.get_state() & Clutter.ModifierType.SHIFT_MASK) !== 0)) {
            this._showMenu();
            return Clutter.EVENT_STOP;
        }
        return Clutter.EVENT_PROPAGATE;
    }

    // Tide's settings menu as a menu of the shell's: it takes the keyboard and closes on a click
    // anywhere, as the top bar's other menus do. Read afresh each time it opens (AboutToShow lets
    // Tide bring it up to date first); where it cannot be read, Tide shows its own menu.
    _showMenu() {
        const {Gio, GLib} = this._shell;
        if (this._menu && this._menu.isOpen) {
            this._menu.close();
            return;
        }
        const cancellable = this._cancellable;
        const call = (method, args, type, done) => Gio.DBus.session.call(ITEM_NAME, MENU_PATH,
            MENU_INTERFACE, method, args, type, Gio.DBusCallFlags.NONE, 2000, cancellable,
            (connection, result) => {
                let reply = null;
                try {
                    reply = connection.call_finish(result);
                } catch (e) {
                    if (!cancellable || !cancellable.is_cancelled()) done(null);
                    return;
                }
                done(reply);
            });
        const fallBack = () => {
            if (!this._proxy || !this._button) return;
            const [x, y, w, h] = this._rectangle();
            this._proxy.ContextMenuRemote(x, y, w, h, () => {});
        };
        call('AboutToShow', new GLib.Variant('(i)', [0]), null, () => {
            call('GetLayout', new GLib.Variant('(iias)', [0, -1, []]),
                new GLib.VariantType('(u(ia{sv}av))'), reply => {
                    if (!reply || !this._button) {
                        fallBack();
                        return;
                    }
                    const [, layout] = reply.recursiveUnpack();
                    this._openMenu(layout[2]);
                });
        });
    }

    _openMenu(items) {
        const {St, Main, PopupMenu} = this._shell;
        this._destroyMenu();
        const menu = new PopupMenu.PopupMenu(this._button, 0.5, St.Side.TOP);
        this._fillMenu(menu, items);
        Main.uiGroup.add_child(menu.actor);
        menu.actor.hide();
        Main.panel.menuManager.addMenu(menu);
        menu.connect('open-state-changed', (m, open) => {
            if (!open && this._menu === menu)
                this._button.remove_style_pseudo_class('active');
            else if (open)
                this._button.add_style_pseudo_class('active');
        });
        this._menu = menu;
        menu.open();
    }

    // com.canonical.dbusmenu's items: [id, properties, children], as GetLayout gives them.
    _fillMenu(menu, items) {
        const {PopupMenu} = this._shell;
        for (const [id, props, children] of items) {
            if (props.visible === false) continue;
            if (props.type === 'separator') {
                menu.addMenuItem(new PopupMenu.PopupSeparatorMenuItem());
                continue;
            }
            // A mnemonic is an underscore before its letter; two stand for one.
            const label = (props.label || '').replace(/_(.)/g, '$1');
            if (props['children-display'] === 'submenu') {
                const submenu = new PopupMenu.PopupSubMenuMenuItem(label);
                this._fillMenu(submenu.menu, children);
                menu.addMenuItem(submenu);
                continue;
            }
            const item = new PopupMenu.PopupMenuItem(label);
            item.setSensitive(props.enabled !== false);
            const on = props['toggle-state'] === 1;
            if (props['toggle-type'] === 'radio')
                item.setOrnament(on ? PopupMenu.Ornament.DOT : PopupMenu.Ornament.NONE);
            else if (props['toggle-type'] === 'checkmark')
                item.setOrnament(on ? PopupMenu.Ornament.CHECK : PopupMenu.Ornament.NONE);
            item.connect('activate', () => this._menuEvent(id));
            menu.addMenuItem(item);
        }
    }

    _menuEvent(id) {
        const {Gio, GLib} = this._shell;
        Gio.DBus.session.call(ITEM_NAME, MENU_PATH, MENU_INTERFACE, 'Event',
            new GLib.Variant('(isvu)', [id, 'clicked', new GLib.Variant('i', 0),
                global.get_current_time()]),
            null, Gio.DBusCallFlags.NONE, -1, null, null);
    }

    _destroyMenu() {
        if (!this._menu) return;
        const {Main} = this._shell;
        const menu = this._menu;
        this._menu = null;
        Main.panel.menuManager.removeMenu(menu);
        menu.destroy();
    }
}
