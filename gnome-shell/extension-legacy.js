// GNOME 43 and 44: the extension as a legacy script.
const {Gio, GLib, GObject, St, Clutter} = imports.gi;
const Main = imports.ui.main;
const PanelMenu = imports.ui.panelMenu;
const PopupMenu = imports.ui.popupMenu;
const Me = imports.misc.extensionUtils.getCurrentExtension();
const {TideButtonController} = Me.imports.tide;

class TideExtension {
    enable() {
        this._controller = new TideButtonController({Gio, GLib, GObject, St, Clutter, Main, PanelMenu, PopupMenu});
        this._controller.enable();
    }

    disable() {
        this._controller.disable();
        this._controller = null;
    }
}

function init() {
    return new TideExtension();
}
