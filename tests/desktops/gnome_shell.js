// What the GNOME test asks the shell through org.gnome.Shell.Eval (tests/desktops/gnome_test.sh):
// the scene as the shell has it (the top bar, the indicator the AppIndicator extension made for
// Tide's item and its menu, the windows, the focused app, startup sequences), and a virtual
// pointer for the Wayland session, where no X server takes synthetic input. Every answer is one
// line of text; numbers are whole pixels on the screen. What it uses of the shell comes from the
// test's extension (gnome_session.sh), which reaches it as scripts on GNOME 43 and 44 and as ES
// modules on 45 and later.
const {Clutter, GLib, Main, Meta, PopupMenu, Shell} = globalThis.tideShell;
globalThis.tideTest = {
    pointer: null,
    keyboard: null,
    // A press and release of `button` at (x, y), `count` times in a row (2: a double click).
    click(x, y, button, count) {
        if (!this.pointer) {
            const seat = Clutter.get_default_backend().get_default_seat();
            this.pointer = seat.create_virtual_device(Clutter.InputDeviceType.POINTER_DEVICE);
        }
        let t = GLib.get_monotonic_time();
        this.pointer.notify_absolute_motion(t, x, y);
        for (let i = 0; i < count; i++) {
            t += 20000;
            this.pointer.notify_button(t, button, Clutter.ButtonState.PRESSED);
            t += 40000;
            this.pointer.notify_button(t, button, Clutter.ButtonState.RELEASED);
        }
        return 'ok';
    },
    // A press and release at (x, y) stamped now (click() stamps its events a little ahead).
    press(x, y, button) {
        const t = GLib.get_monotonic_time();
        this.pointer.notify_absolute_motion(t, x, y);
        this.pointer.notify_button(t, button, Clutter.ButtonState.PRESSED);
        this.pointer.notify_button(t + 40000, button, Clutter.ButtonState.RELEASED);
        return 'ok';
    },
    // What a click's timing reads, for the next press the shell takes: its time, and that of the
    // shell's first frame that drew Tide's settings menu after it ("-" while not seen). Both are
    // milliseconds of CLOCK_MONOTONIC, the X servers' clock too, cut to 32 bits as X cuts them.
    armTiming() {
        this._timing = {press: '-', menu: '-'};
        if (!this._timingHooks) {
            this._timingHooks = true;
            global.stage.connect('captured-event', (stage, event) => {
                const t = this._timing;
                if (t && t.press === '-' && event.type() === Clutter.EventType.BUTTON_PRESS)
                    t.press = String(event.get_time());
                return Clutter.EVENT_PROPAGATE;
            });
            global.stage.connect('after-paint', () => {
                const t = this._timing;
                const menu = this.tideMenu();
                if (t && t.press !== '-' && t.menu === '-' && menu && menu.isOpen &&
                    menu.actor.mapped)
                    t.menu = String(Math.floor(GLib.get_monotonic_time() / 1000) % 4294967296);
            });
        }
        return 'ok';
    },
    timing() {
        return this._timing ? `${this._timing.press} ${this._timing.menu}` : '- -';
    },
    box(actor) {
        const [x, y] = actor.get_transformed_position();
        const [w, h] = actor.get_transformed_size();
        return [x, y, w, h].map(Math.round).join(' ');
    },
    indicator() {
        const entry = Object.entries(Main.panel.statusArea)
            .find(([key]) => key.startsWith('appindicator-'));
        return entry ? entry[1] : null;
    },
    // The item's bus name, from the indicator's key.
    service() {
        const entry = Object.keys(Main.panel.statusArea).find(k => k.startsWith('appindicator-'));
        return entry ? entry.replace(/^appindicator-/, '') : '';
    },
    // "x y w h" of the indicator's button in the top bar, then of the picture in it; empty
    // while none is shown.
    icon() {
        const button = this.indicator();
        if (!button || !button.mapped) return '';
        const find = actor => {
            if (actor.constructor.name.endsWith('IconActor')) return actor;
            for (const child of actor.get_children()) {
                const found = find(child);
                if (found) return found;
            }
            return null;
        };
        const picture = find(button);
        return picture && picture.mapped ? `${this.box(button)} ${this.box(picture)}` : '';
    },
    // The label shown beside the picture (XAyatanaLabel), or "-".
    label() {
        const button = this.indicator();
        const label = button && button._label;
        return label && label.visible && label.text ? label.text : '-';
    },
    panelHeight() {
        return Main.panel.height;
    },
    // Whether the shell has finished starting (it then opens the overview, as at a login).
    started() {
        return !Main.layoutManager._startingUp;
    },
    hideOverview() {
        Main.overview.hide();
        return Main.overview.visible ? 'shown' : 'hidden';
    },
    items(menu) {
        let all = [];
        for (const item of menu._getMenuItems()) {
            all.push(item);
            if (item.menu) all = all.concat(this.items(item.menu));
        }
        return all;
    },
    // "open x y w h" of the indicator's menu, or "closed".
    menu() {
        const button = this.indicator();
        if (!button || !button.menu.isOpen) return 'closed';
        return `open ${this.box(button.menu.actor)}`;
    },
    // The menu's first items as the shell shows them: labels, "-" for a separator.
    menuTop(n) {
        const button = this.indicator();
        if (!button) return '';
        return button.menu._getMenuItems().slice(0, n).map(item =>
            item instanceof PopupMenu.PopupSeparatorMenuItem ? '-' : item.label.text).join('|');
    },
    // "x y ornament" at the middle of the shown item labelled `text` (ornament 1: the dot of a
    // chosen radio item, 2: a check mark), or "none": in the indicator's menu, or in `menu`.
    item(text, menu) {
        if (!menu) {
            const button = this.indicator();
            if (!button) return 'none';
            menu = button.menu;
        }
        const item = this.items(menu).find(i => i.label && i.label.text === text && i.mapped);
        if (!item) return 'none';
        const [x, y, w, h] = this.box(item).split(' ').map(Number);
        return `${Math.round(x + w / 2)} ${Math.round(y + h / 2)} ${item._ornament}`;
    },
    closeMenu() {
        const button = this.indicator();
        if (button && button.menu.isOpen) button.menu.close();
        return 'ok';
    },
    // The windows of process `pid`: "x y w h focused title" for each, joined by ";".
    windows(pid) {
        return global.get_window_actors().map(a => a.meta_window)
            .filter(w => w.get_pid() === pid && !w.minimized && w.showing_on_its_workspace())
            .map(w => {
                const r = w.get_frame_rect();
                return [r.x, r.y, r.width, r.height, w.has_focus() ? 1 : 0, w.title].join(' ');
            }).join(';');
    },
    // How process `pid` shows its windows: "x11" (through Xwayland, or on X11) or "wayland".
    clientType(pid) {
        const w = global.get_window_actors().map(a => a.meta_window)
            .find(w => w.get_pid() === pid);
        if (!w) return '';
        return w.get_client_type() === Meta.WindowClientType.X11 ? 'x11' : 'wayland';
    },
    // "name|desktop id" of the focused app, as the shell's window tracker has it.
    focusApp() {
        const app = Shell.WindowTracker.get_default().focus_app;
        return app ? `${app.get_name()}|${app.get_id()}` : 'none|';
    },
    // The name the top bar's app menu shows (GNOME 44 and before), or "none" where it shows none.
    appMenuLabel() {
        const button = Main.panel.statusArea.appMenu;
        return button && button.visible && button.container.visible ? button._label.text : 'none';
    },
    showOverview() {
        Main.overview.show();
        return Main.overview.visible ? 'shown' : 'hidden';
    },
    // The overview's dash: "x y w h" of the icon of the app `id` there, then the name it shows
    // beside it under the pointer (or "-" while that is not shown); "none" while it shows no icon.
    dashItem(id) {
        const item = Main.overview.dash._box.get_children()
            .find(c => c.child && c.child.app && c.child.app.get_id() === id);
        if (!item || !item.child.mapped) return 'none';
        const label = item.label;
        return `${this.box(item.child)} ${label && label.mapped && label.text ? label.text : '-'}`;
    },
    // The startup sequences not yet completed (each keeps the pointer busy): their ids.
    startupSequences() {
        const tracker = Shell.WindowTracker.get_default();
        return tracker.get_startup_sequences().filter(s => !s.get_completed())
            .map(s => s.get_id()).join(' ');
    },
    env(name) {
        return GLib.getenv(name) || '';
    },
    // Tide's own extension's button ("x y w h" of the button, then of its picture), empty while
    // none is shown; its label; its accessible name's first line.
    tideButton() {
        const button = Main.panel.statusArea['tide-monitor'];
        if (!button || !button.mapped) return '';
        const icon = button.get_first_child().get_first_child();
        return icon && icon.visible ? `${this.box(button)} ${this.box(icon)}` : this.box(button);
    },
    tideLabel() {
        const button = Main.panel.statusArea['tide-monitor'];
        const label = button && button.get_first_child().get_last_child();
        return label && label.text ? label.text : '-';
    },
    tideAccessibleName() {
        const button = Main.panel.statusArea['tide-monitor'];
        return button && button.accessible_name ? button.accessible_name.split('\n')[0] : '';
    },
    // The settings menu Tide's extension shows: "open x y w h" or "closed"; an item of it.
    tideMenu() {
        const extension = Main.extensionManager.lookup('monitor@tide.dev');
        const controller = extension && extension.stateObj && extension.stateObj._controller;
        return controller ? controller._menu : null;
    },
    tideMenuState() {
        const menu = this.tideMenu();
        return menu && menu.isOpen ? `open ${this.box(menu.actor)}` : 'closed';
    },
    tideItem(text) {
        const menu = this.tideMenu();
        return menu ? this.item(text, menu) : 'none';
    },
    // How many indicators of the AppIndicator extension are in the top bar.
    indicatorCount() {
        return Object.keys(Main.panel.statusArea).filter(k => k.startsWith('appindicator-')).length;
    },
    // A key pressed and released (its X keysym name, as "Down") on a virtual keyboard.
    key(name) {
        if (!this.keyboard) {
            const seat = Clutter.get_default_backend().get_default_seat();
            this.keyboard = seat.create_virtual_device(Clutter.InputDeviceType.KEYBOARD_DEVICE);
        }
        const keyval = Clutter[`KEY_${name}`];
        let t = GLib.get_monotonic_time();
        this.keyboard.notify_keyval(t, keyval, Clutter.KeyState.PRESSED);
        this.keyboard.notify_keyval(t + 20000, keyval, Clutter.KeyState.RELEASED);
        return 'ok';
    },
};
// The virtual devices are made now: a device's first events are lost while the seat is still
// adding it.
if (Meta.is_wayland_compositor()) {
    const seat = Clutter.get_default_backend().get_default_seat();
    tideTest.pointer = seat.create_virtual_device(Clutter.InputDeviceType.POINTER_DEVICE);
    tideTest.keyboard = seat.create_virtual_device(Clutter.InputDeviceType.KEYBOARD_DEVICE);
}
'ok';
