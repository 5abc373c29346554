// GNOME 45 and later: the extension as a module.
import Gio from 'gi://Gio';
import GLib from 'gi://GLib';
import GObject from 'gi://GObject';
import St from 'gi://St';
import Clutter from 'gi://Clutter';
import * as Main from 'resource:///org/gnome/shell/ui/main.js';
import * as PanelMenu from 'resource:///org/gnome/shell/ui/panelMenu.js';
import * as PopupMenu from 'resource:///org/gnome/shell/ui/popupMenu.js';
import {Extension} from 'resource:///org/gnome/shell/extensions/extension.js';
import {TideButtonController} from './tide.js';

export default class TideExtension extends Extension {
    enable() {
        this._controller = new TideButtonController({Gio, GLib, GObject, St, Clutter, Main, PanelMenu, PopupMenu});
        this._controller.enable();
    }

    disable() {
        this._controller.disable();
        this._controller = null;
    }
}
