#!/usr/bin/env python3
"""Draws every image of the application as SVG into assets/ (CMake compiles them into the resource ":/assets").

One palette and one 24-unit glyph grid keep the set consistent; run again after changing a glyph.
"""
import pathlib

OUT = pathlib.Path(__file__).resolve().parent.parent / "assets"

ACCENT = "#4f46e5"
ACCENT_DARK = "#3730a3"
INK = "#475569"
MUTED = "#94a3b8"
TILE = "#f1f5f9"
GREEN = "#059669"
WHITE = "#ffffff"

# Glyphs on a 24×24 grid, drawn with a stroke of the caller's colour.
GLYPHS = {
    "lock": '<rect x="5" y="11" width="14" height="10" rx="2.5"/><path d="M8 11V8a4 4 0 0 1 8 0v3"/>'
            '<path d="M12 15v2"/>',
    "unlock": '<rect x="5" y="11" width="14" height="10" rx="2.5"/><path d="M8 11V8a4 4 0 0 1 7.7-1.5"/>',
    "eye": '<path d="M2.5 12s3.5-6.5 9.5-6.5S21.5 12 21.5 12s-3.5 6.5-9.5 6.5S2.5 12 2.5 12z"/>'
           '<circle cx="12" cy="12" r="3"/>',
    "folder": '<path d="M3 7.5A1.5 1.5 0 0 1 4.5 6H9l2 2.5h8.5A1.5 1.5 0 0 1 21 10v8.5a1.5 1.5 0 0 1-1.5 1.5h-15'
              'A1.5 1.5 0 0 1 3 18.5z"/>',
    "picture": '<rect x="3" y="4.5" width="18" height="15" rx="2"/><circle cx="8.5" cy="9.5" r="1.6"/>'
               '<path d="M3.5 17.5l5-5 3.5 3.5 2.5-2.5 6 5"/>',
    "doc": '<path d="M6 3h8l4 4v13a1 1 0 0 1-1 1H6a1 1 0 0 1-1-1V4a1 1 0 0 1 1-1z"/><path d="M14 3v4h4"/>'
           '<path d="M8.5 12h7M8.5 15.5h7M8.5 8.5h3"/>',
    "archive": '<rect x="3.5" y="4" width="17" height="4.5" rx="1"/><path d="M5 8.5v10a1.5 1.5 0 0 0 1.5 1.5h11'
               'a1.5 1.5 0 0 0 1.5-1.5v-10"/><path d="M10 12.5h4"/>',
    "media": '<rect x="3" y="5" width="18" height="14" rx="2"/><path d="M10 9.2v5.6l4.8-2.8z"/>',
    "other": '<rect x="3.5" y="3.5" width="7" height="7" rx="1.5"/><rect x="13.5" y="3.5" width="7" height="7" rx="1.5"/>'
             '<rect x="3.5" y="13.5" width="7" height="7" rx="1.5"/><circle cx="17" cy="17" r="3.5"/>',
    "all": '<path d="M4 6h16M4 12h16M4 18h16"/>',
    "desktop": '<rect x="2.5" y="4" width="19" height="12.5" rx="1.8"/><path d="M9 20.5h6M12 16.5v4"/>',
    "cookie": '<path d="M20.5 12.5A8.5 8.5 0 1 1 11.5 3.5a3 3 0 0 0 3.5 3.5 3 3 0 0 0 3.5 3.5 3 3 0 0 0 2 2z"/>'
              '<circle cx="9" cy="10" r=".9"/><circle cx="14" cy="15" r=".9"/><circle cx="9.5" cy="15.5" r=".9"/>',
    "compass": '<circle cx="12" cy="12" r="9"/><path d="M15.5 8.5l-2 5-5 2 2-5z"/>',
    "ring": '<circle cx="12" cy="12" r="9"/><circle cx="12" cy="12" r="3.5"/><path d="M12 8.5h8.2M9 13.8L4.8 6.5'
            'M15 13.8l-4.3 7.1"/>',
    "flame": '<circle cx="12" cy="12" r="9"/><path d="M8.5 15.5c0-3 3.5-4 2.5-7.5 3 1.2 4.5 4 4.5 6a3.5 3.5 0 0 1-7 1.5z"/>',
    "newcookie": '<path d="M19.5 12.5A7.5 7.5 0 1 1 11.5 4.5"/><circle cx="9" cy="11" r=".9"/>'
                 '<circle cx="12.5" cy="15.5" r=".9"/><path d="M18 3v6M15 6h6"/>',
    "opencookie": '<path d="M3 7.5A1.5 1.5 0 0 1 4.5 6H9l2 2.5h8.5A1.5 1.5 0 0 1 21 10v8.5a1.5 1.5 0 0 1-1.5 1.5h-15'
                  'A1.5 1.5 0 0 1 3 18.5z"/><circle cx="12" cy="14" r="3"/>',
    "find": '<circle cx="10.5" cy="10.5" r="6"/><path d="M15 15l5.5 5.5"/>',
    "close": '<path d="M8 8l8 8M16 8l-8 8"/>',
    "shield": '<path d="M12 2.8l7.5 3v5.7c0 4.7-3.2 8.4-7.5 9.7-4.3-1.3-7.5-5-7.5-9.7V5.8z"/>'
              '<circle cx="12" cy="11" r="2"/><path d="M12 13v3"/>',
    "trash": '<path d="M4 7h16M9.5 7V4.5h5V7M6 7l1 13h10l1-13"/><path d="M10 11v5.5M14 11v5.5"/>',
    "plug": '<path d="M9 3v4M15 3v4M6.5 7h11v3.5a5.5 5.5 0 0 1-11 0z"/><path d="M12 16v5"/>',
    "target": '<circle cx="12" cy="12" r="8"/><circle cx="12" cy="12" r="3"/><path d="M12 1.5v3M12 19.5v3'
              'M1.5 12h3M19.5 12h3"/>',
    "disk": '<rect x="3.5" y="5" width="17" height="14" rx="2.5"/><path d="M3.5 13.5h17"/><circle cx="16.5" cy="16.3" r=".9"/>',
    "refresh": '<path d="M20 12a8 8 0 1 1-2.3-5.6"/><path d="M20 4v4.5h-4.5"/>',
    "gear": '<circle cx="12" cy="12" r="3"/><path d="M12 2.5v3M12 18.5v3M2.5 12h3M18.5 12h3M5.3 5.3l2.1 2.1'
            'M16.6 16.6l2.1 2.1M5.3 18.7l2.1-2.1M16.6 7.4l2.1-2.1"/>',
    "chevron": '<path d="M6 9l6 6 6-6"/>',
    "check": '<path d="M5 12.5l4.5 4.5L19 7.5"/>',
}


def svg(w, h, body, view=None):
    vb = view or f"0 0 {w} {h}"
    return (f'<svg xmlns="http://www.w3.org/2000/svg" width="{w}" height="{h}" viewBox="{vb}">\n'
            f"{body}\n</svg>\n")


def glyph(name, colour, width=1.8, x=0, y=0, scale=1.0):
    return (f'<g transform="translate({x} {y}) scale({scale})" fill="none" stroke="{colour}" '
            f'stroke-width="{width}" stroke-linecap="round" stroke-linejoin="round">{GLYPHS[name]}</g>')


def icon(name, colour=INK, size=24):
    return svg(size, size, glyph(name, colour, scale=size / 24))


def tile(name, down, size=64):
    """A square kind tile: quiet when normal, filled with the accent when chosen."""
    bg = ACCENT if down else TILE
    fg = WHITE if down else INK
    border = "" if down else f' stroke="#e2e8f0" stroke-width="1"'
    return svg(size, size, f'<rect x="0.5" y="0.5" width="{size-1}" height="{size-1}" rx="14" fill="{bg}"{border}/>'
               + glyph(name, fg, 1.6, x=size * 0.25, y=size * 0.25, scale=size * 0.5 / 24))


def chip(name, down, w=40, h=40):
    """A round tool button: accent disc when chosen, soft disc otherwise."""
    bg = ACCENT if down else TILE
    fg = WHITE if down else INK
    return svg(w, h, f'<circle cx="{w/2}" cy="{h/2}" r="{min(w,h)/2-0.5}" fill="{bg}"/>'
               + glyph(name, fg, 1.7, x=w / 2 - 11, y=h / 2 - 11, scale=22 / 24))


def face(fill, w=160, h=36, stroke=None):
    """A button face; the widget writes its title on it."""
    s = f' stroke="{stroke}" stroke-width="1"' if stroke else ""
    return svg(w, h, f'<rect x="0.5" y="0.5" width="{w-1}" height="{h-1}" rx="{(h-1)/2}" fill="{fill}"{s}/>')


def banner(w, h, motif, a="#4f46e5", b="#7c3aed"):
    """A gradient banner; motif None for banners stretched to many widths."""
    body = (f'<defs><linearGradient id="g" x1="0" y1="0" x2="1" y2="1">'
            f'<stop offset="0" stop-color="{a}"/><stop offset="1" stop-color="{b}"/></linearGradient></defs>'
            f'<rect width="{w}" height="{h}" fill="url(#g)"/>'
            f'<circle cx="{w*0.86}" cy="{h*0.1}" r="{h*0.9}" fill="#ffffff" fill-opacity="0.07"/>'
            f'<circle cx="{w*0.72}" cy="{h*1.1}" r="{h*0.6}" fill="#ffffff" fill-opacity="0.06"/>'
            + (glyph(motif, "#ffffff", 1.6, x=w - h * 0.9 - 56, y=h * 0.05, scale=h * 0.9 / 24)
               .replace('stroke="#ffffff"', 'stroke="#ffffff" stroke-opacity="0.35"') if motif else ""))
    return svg(w, h, body)


def switch(on):
    track = ACCENT if on else "#cbd5e1"
    knob_x = 32 if on else 14
    return svg(46, 28, f'<rect x="1" y="3" width="44" height="22" rx="11" fill="{track}"/>'
               f'<circle cx="{knob_x}" cy="14" r="8.5" fill="#ffffff"/>'
               f'<circle cx="{knob_x}" cy="14" r="8.5" fill="none" stroke="#000000" stroke-opacity="0.08"/>')


def tag(name, fill):
    return svg(22, 22, f'<circle cx="11" cy="11" r="10.5" fill="{fill}"/>'
               + glyph(name, WHITE, 2.0, x=4, y=4, scale=14 / 24))


def vault_folder(size):
    s = size / 64
    body = (f'<g transform="scale({s})">'
            '<path d="M4 14a4 4 0 0 1 4-4h15l5 6h28a4 4 0 0 1 4 4v32a4 4 0 0 1-4 4H8a4 4 0 0 1-4-4z" fill="#6366f1"/>'
            '<path d="M4 22a4 4 0 0 1 4-4h48a4 4 0 0 1 4 4v30a4 4 0 0 1-4 4H8a4 4 0 0 1-4-4z" fill="#818cf8"/>'
            '<rect x="24" y="32" width="16" height="13" rx="2.5" fill="#ffffff"/>'
            '<path d="M27.5 32v-3.5a4.5 4.5 0 0 1 9 0V32" fill="none" stroke="#ffffff" stroke-width="2.6"/>'
            '<circle cx="32" cy="38.5" r="1.8" fill="#6366f1"/></g>')
    return svg(size, size, body)


def tray(colour):
    # A shield with a keyhole, legible at 16 px on panels of either colour.
    return svg(22, 22, '<path d="M11 1.8l7.2 2.9v5.5c0 4.6-3 8.2-7.2 9.6-4.2-1.4-7.2-5-7.2-9.6V4.7z" '
               f'fill="{colour}"/><circle cx="11" cy="9.4" r="2.1" fill="{"#ffffff" if colour != "#f8fafc" else "#1e293b"}"/>'
               f'<rect x="10" y="10.5" width="2" height="4.6" rx="1" fill="{"#ffffff" if colour != "#f8fafc" else "#1e293b"}"/>')


def images():
    img = {}
    # Status-bar icon: dark on light panels, light on dark panels.
    img["bannerIcon"] = tray("#1e293b")
    img["darkbannerIcon"] = tray("#f8fafc")
    img["appicon"] = svg(128, 128, '<rect x="4" y="4" width="120" height="120" rx="28" fill="#4f46e5"/>'
                         '<path d="M64 22l34 13v25c0 21-14 38-34 45-20-7-34-24-34-45V35z" fill="#ffffff"/>'
                         '<circle cx="64" cy="56" r="9" fill="#4f46e5"/><rect x="59.5" y="60" width="9" height="20" '
                         'rx="4.5" fill="#4f46e5"/>')
    # The symbolic variant for panels, the tray and notifications: the shield alone, one flat
    # colour the desktop recolours, on a 16-unit grid. GTK and GNOME Shell paint every fill of a
    # symbolic icon in the panel's colour; KDE replaces the "current-color-scheme" style sheet with
    # its colour scheme, which the shield takes through currentColor.
    img["appicon-symbolic"] = svg(16, 16, '<style id="current-color-scheme" type="text/css">'
                                  '.ColorScheme-Text { color:#bebebe; }</style>'
                                  '<path class="ColorScheme-Text" '
                                  'd="M8 1l6 2.3v4.4c0 3.7-2.5 6.6-6 7.8-3.5-1.2-6-4.1-6-7.8V3.3z'
                                  'M8 5.2a1.6 1.6 0 0 0-.8 3v2.6h1.6V8.2a1.6 1.6 0 0 0-.8-3z" '
                                  'fill="currentColor" fill-rule="evenodd"/>')
    # Desktop kind tiles.
    for base, nom, down, g in [("currentBigDesktop", "currentBigDesktopnom", "currentBigDesktopdown", "desktop"),
                               ("picbig", "picbignom", "picbigDown", "picture"),
                               ("docbig", "docbignom", "docbigdown", "doc"),
                               ("archbig", "archbignom", "archbigdown", "archive"),
                               ("folderbig", "folderbignom", "folderbigdown", "folder"),
                               ("otherbig", "otherbignom", "othebigdown", "other")]:
        img[nom] = tile(g, False)
        img[down] = tile(g, True)
    # Cookie sources.
    for nom, down, g in [("Safaricookienom", "safaricookiedown", "compass"),
                         ("chromecookienom", "chromecookiedown", "ring"),
                         ("firefoxcookienom", "firefoxcookiedown", "flame"),
                         ("newcookienom", "newcookiedown", "newcookie"),
                         ("opencookienom", "opencooikedown", "opencookie")]:
        img[nom] = chip(g, False)
        img[down] = chip(g, True)
    img["safaricookienom"] = img["Safaricookienom"]
    img["opencookiedown"] = img["opencooikedown"]
    # Vault filters.
    for name, g in [("allnom", "all"), ("imagenom", "picture"), ("docnom", "doc"), ("medianom", "media"),
                    ("foldernom", "folder"), ("othernom", "other")]:
        img[name] = icon(g, INK, 20)
    # Kind buttons of the tidy list.
    for nom, down, g in [("allnombbtn", "alldownbbtn", "all"), ("imagenombtn", "imagedownbtn", "picture"),
                         ("docnombtn", "docdownbtn", "doc"), ("zipnombtn", "zipdownbtn", "archive"),
                         ("foldernombtn", "folderdownbtn", "folder"), ("othernombbtn", "otherdownbbtn", "other")]:
        img[nom] = chip(g, False, 32, 32)
        img[down] = chip(g, True, 32, 32)
    img["NSRefreshTemplate"] = icon("refresh", INK, 18)
    img["NSActionTemplate"] = icon("gear", INK, 18)
    # Row pictures and states.
    img["switchdown"] = switch(False)
    img["turnoffbtn"] = switch(True)
    img["find"] = icon("find", ACCENT, 22)
    img["finddown"] = icon("find", "#cbd5e1", 22)
    img["locktag"] = tag("lock", ACCENT)
    img["viewtag"] = tag("eye", GREEN)
    img["floderimage"] = vault_folder(48)
    img["foldericns"] = vault_folder(256)
    # Button faces and close buttons.
    img["donenom"] = face(ACCENT)
    img["donedown"] = face(ACCENT_DARK)
    img["startlocationnombtn"] = face(ACCENT, 220, 40)
    img["startlocationdownbtn"] = face(ACCENT_DARK, 220, 40)
    img["storagenom"] = face("#ffffff", 150, 32, "#cbd5e1")
    img["storagedown"] = face("#e2e8f0", 150, 32, "#94a3b8")
    img["Close_Nom"] = svg(22, 22, '<circle cx="11" cy="11" r="10" fill="#ffffff" fill-opacity="0.18"/>'
                           + glyph("close", WHITE, 2.0, x=2, y=2, scale=18 / 24))
    img["Close_Down"] = svg(22, 22, '<circle cx="11" cy="11" r="10" fill="#ffffff" fill-opacity="0.38"/>'
                            + glyph("close", WHITE, 2.0, x=2, y=2, scale=18 / 24))
    # Banners and headers, stretched by the views that draw them.
    img["topbanner"] = banner(420, 64, "shield")
    img["pdtopview"] = banner(420, 64, "lock", "#4338ca", "#6d28d9")
    img["filetopbanner"] = banner(760, 64, None, "#4f46e5", "#2563eb")
    img["tablehead"] = svg(400, 25, '<defs><linearGradient id="g" x1="0" y1="0" x2="0" y2="1">'
                           '<stop offset="0" stop-color="#f8fafc"/><stop offset="1" stop-color="#eef2f7"/>'
                           '</linearGradient></defs><rect width="400" height="25" fill="url(#g)"/>'
                           '<rect y="24" width="400" height="1" fill="#e2e8f0"/>')
    img["mainBottomImage"] = svg(480, 36, '<defs><linearGradient id="g" x1="0" y1="0" x2="1" y2="0">'
                                 '<stop offset="0" stop-color="#4f46e5"/><stop offset="1" stop-color="#7c3aed"/>'
                                 '</linearGradient></defs><rect width="480" height="36" fill="#f8fafc"/>'
                                 '<rect width="480" height="3" fill="url(#g)"/>'
                                 '<g transform="translate(18 11) scale(0.6)" fill="none" stroke="#94a3b8" '
                                 'stroke-width="2" stroke-linejoin="round">' + GLYPHS["shield"] + '</g>'
                                 '<text x="38" y="24" font-family="sans-serif" font-size="11" fill="#94a3b8">'
                                 'Vaultry</text>')
    img["chevrondown"] = icon("chevron", INK, 12)
    # Navigation of the main window and the popover.
    for name, g in [("navvault", "shield"), ("navdesktop", "desktop"), ("navtrash", "trash"),
                    ("navcookie", "cookie"), ("navaccess", "plug"), ("navtarget", "target"),
                    ("navdisk", "disk"), ("navlock", "lock"), ("navunlock", "unlock"), ("navcheck", "check")]:
        img[name] = icon(g, INK, 24)
        img[name + "_on"] = icon(g, ACCENT, 24)
    return img


def main():
    OUT.mkdir(exist_ok=True)
    names = []
    for name, text in sorted(images().items()):
        (OUT / f"{name}.svg").write_text(text)
        names.append(name)


    print(f"{len(names)} images")


if __name__ == "__main__":
    main()
