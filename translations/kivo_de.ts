<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE">
<context>
    <name>ApplicationChooser</name>
    <message>
        <source>Choose Application</source>
        <translation>Programm auswählen</translation>
    </message>
    <message>
        <source>Applications (*.desktop)</source>
        <translation>Programme (*.desktop)</translation>
    </message>
    <message>
        <source>Open</source>
        <translation>Öffnen</translation>
    </message>
</context>
<context>
    <name>FreedesktopTrash</name>
    <message>
        <source>The file cannot be moved to the Trash because its volume has no Trash folder.</source>
        <translation>Die Datei kann nicht in den Papierkorb gelegt werden, weil ihr Datenträger keinen Papierkorb hat.</translation>
    </message>
    <message>
        <source>“%1” is no longer in the Trash.</source>
        <translation>„%1“ ist nicht mehr im Papierkorb.</translation>
    </message>
    <message>
        <source>“%1” cannot be put back because the folder it was in no longer exists.</source>
        <translation>„%1“ kann nicht zurückgelegt werden, weil sein Ordner nicht mehr existiert.</translation>
    </message>
    <message>
        <source>“%1” cannot be put back because another file now has its name.</source>
        <translation>„%1“ kann nicht zurückgelegt werden, weil jetzt eine andere Datei so heißt.</translation>
    </message>
</context>
<context>
    <name>Metadata</name>
    <message>
        <source>File Size</source>
        <translation>Dateigröße</translation>
    </message>
    <message>
        <source>Dimensions</source>
        <translation>Abmessungen</translation>
    </message>
    <message>
        <source>Bit Depth</source>
        <translation>Farbtiefe</translation>
    </message>
    <message>
        <source>Color Model</source>
        <translation>Farbmodell</translation>
    </message>
    <message>
        <source>Camera</source>
        <translation>Kamera</translation>
    </message>
    <message>
        <source>Model</source>
        <translation>Modell</translation>
    </message>
    <message>
        <source>Date</source>
        <translation>Datum</translation>
    </message>
    <message>
        <source>Focal Length</source>
        <translation>Brennweite</translation>
    </message>
    <message>
        <source>Aperture</source>
        <translation>Blende</translation>
    </message>
    <message>
        <source>Shutter</source>
        <translation>Belichtungszeit</translation>
    </message>
    <message>
        <source>ISO</source>
        <translation>ISO</translation>
    </message>
    <message>
        <source>Lens</source>
        <translation>Objektiv</translation>
    </message>
    <message>
        <source>GPS</source>
        <translation>GPS</translation>
    </message>
</context>
<context>
    <name>kivo::AppState</name>
    <message>
        <source>The image is too large to copy: its %1 × %2 pixels need %3 MB, more than the %4 MB set for large images in the Advanced settings.</source>
        <translation>Das Bild ist zu groß zum Kopieren: Seine %1 × %2 Pixel brauchen %3 MB, mehr als die %4 MB, die in den erweiterten Einstellungen für große Bilder festgelegt sind.</translation>
    </message>
    <message>
        <source>&quot;%1&quot; is turned on screen only: its format stores no orientation, and rewriting its %2 × %3 pixels would need %4 MB, more than the %5 MB set for large images in the Advanced settings.</source>
        <translation>„%1“ wird nur auf dem Bildschirm gedreht: Sein Format speichert keine Ausrichtung, und seine %2 × %3 Pixel neu zu schreiben bräuchte %4 MB, mehr als die %5 MB, die in den erweiterten Einstellungen für große Bilder festgelegt sind.</translation>
    </message>
</context>
<context>
    <name>kivo::AboutWindow</name>
    <message>
        <source>About Kivo</source>
        <translation>Über Kivo</translation>
    </message>
    <message>
        <source>Version %1</source>
        <translation>Version %1</translation>
    </message>
    <message>
        <source>Built with Qt %1</source>
        <translation>Erstellt mit Qt %1</translation>
    </message>
    <message>
        <source>Licensed under the GNU GPL, version 3 or later</source>
        <translation>Lizenziert unter der GNU GPL, Version 3 oder später</translation>
    </message>
    <message>
        <source>About.description</source>
        <translation>Ein schneller Bildbetrachter: Öffnen Sie ein Bild und blättern Sie mit den Pfeiltasten durch seinen Ordner.</translation>
    </message>
</context>
<context>
    <name>kivo::EmptyState</name>
    <message>
        <source>This file is damaged</source>
        <translation>Diese Datei ist beschädigt</translation>
    </message>
    <message>
        <source>Not an image Kivo can read</source>
        <translation>Kein Bild, das Kivo lesen kann</translation>
    </message>
    <message>
        <source>Too large to show</source>
        <translation>Zu groß zum Anzeigen</translation>
    </message>
    <message>
        <source>Kivo cannot read this file</source>
        <translation>Kivo kann diese Datei nicht lesen</translation>
    </message>
    <message>
        <source>Drop a file or use File &gt; Open</source>
        <translation>Datei hierher ziehen oder Datei &gt; Öffnen wählen</translation>
    </message>
    <message>
        <source>Open an image to start</source>
        <translation>Öffnen Sie ein Bild, um zu beginnen</translation>
    </message>
    <message>
        <source>Kivo cannot show this file</source>
        <translation>Kivo kann diese Datei nicht anzeigen</translation>
    </message>
    <message>
        <source>Its folder was moved to the Trash or deleted</source>
        <translation>Der Ordner wurde in den Papierkorb verschoben oder gelöscht</translation>
    </message>
    <message>
        <source>No images in this folder</source>
        <translation>Keine Bilder in diesem Ordner</translation>
    </message>
</context>
<context>
    <name>kivo::HistogramPanel</name>
    <message>
        <source>Histogram</source>
        <translation>Histogramm</translation>
    </message>
</context>
<context>
    <name>kivo::Menus</name>
    <message>
        <source>Fit to Window</source>
        <translation>An Fenster anpassen</translation>
    </message>
    <message>
        <source>Actual Size</source>
        <translation>Originalgröße</translation>
    </message>
    <message>
        <source>Auto-Size Window</source>
        <translation>Fenstergröße automatisch</translation>
    </message>
    <message>
        <source>Zoom In</source>
        <translation>Vergrößern</translation>
    </message>
    <message>
        <source>Zoom Out</source>
        <translation>Verkleinern</translation>
    </message>
    <message>
        <source>Rotate Clockwise</source>
        <translation>Im Uhrzeigersinn drehen</translation>
    </message>
    <message>
        <source>Rotate Counter-Clockwise</source>
        <translation>Gegen den Uhrzeigersinn drehen</translation>
    </message>
    <message>
        <source>Metadata</source>
        <translation>Metadaten</translation>
    </message>
    <message>
        <source>Histogram</source>
        <translation>Histogramm</translation>
    </message>
    <message>
        <source>Thumbnails</source>
        <translation>Miniaturen</translation>
    </message>
    <message>
        <source>Copy Image</source>
        <translation>Bild kopieren</translation>
    </message>
    <message>
        <source>Show in File Manager</source>
        <translation>In Dateiverwaltung zeigen</translation>
    </message>
    <message>
        <source>Delete Image</source>
        <translation>Bild löschen</translation>
    </message>
    <message>
        <source>Open With</source>
        <translation>Öffnen mit</translation>
    </message>
    <message>
        <source>Other...</source>
        <translation>Andere...</translation>
    </message>
    <message>
        <source>Open Image</source>
        <translation>Bild öffnen</translation>
    </message>
    <message>
        <source>Open...</source>
        <translation>Öffnen...</translation>
    </message>
    <message>
        <source>Close Window</source>
        <translation>Fenster schließen</translation>
    </message>
    <message>
        <source>Quit</source>
        <translation>Beenden</translation>
    </message>
    <message>
        <source>Undo Move to Trash</source>
        <translation>In den Papierkorb legen widerrufen</translation>
    </message>
    <message>
        <source>Settings...</source>
        <translation>Einstellungen...</translation>
    </message>
    <message>
        <source>Full Screen</source>
        <translation>Vollbild</translation>
    </message>
    <message>
        <source>Images</source>
        <translation>Bilder</translation>
    </message>
    <message>
        <source>All Files</source>
        <translation>Alle Dateien</translation>
    </message>
    <message>
        <source>File</source>
        <translation>Datei</translation>
    </message>
    <message>
        <source>Edit</source>
        <translation>Bearbeiten</translation>
    </message>
    <message>
        <source>Image</source>
        <translation>Bild</translation>
    </message>
    <message>
        <source>Help</source>
        <translation>Hilfe</translation>
    </message>
    <message>
        <source>About Kivo</source>
        <translation>Über Kivo</translation>
    </message>
</context>
<context>
    <name>kivo::MetadataPanel</name>
    <message>
        <source>Metadata</source>
        <translation>Metadaten</translation>
    </message>
    <message>
        <source>No metadata available</source>
        <translation>Keine Metadaten verfügbar</translation>
    </message>
</context>
<context>
    <name>kivo::SettingsWindow</name>
    <message>
        <source>Open each image in its own window</source>
        <translation>Jedes Bild in einem eigenen Fenster öffnen</translation>
    </message>
    <message>
        <source>Settings</source>
        <translation>Einstellungen</translation>
    </message>
    <message>
        <source>Use the display&apos;s colour profile</source>
        <translation>Farbprofil des Bildschirms verwenden</translation>
    </message>
    <message>
        <source>Every opened image gets a separate window.</source>
        <translation>Jedes geöffnete Bild erhält ein eigenes Fenster.</translation>
    </message>
    <message>
        <source>Opened images reuse the existing window.</source>
        <translation>Geöffnete Bilder verwenden das vorhandene Fenster.</translation>
    </message>
    <message>
        <source>Advanced</source>
        <translation>Erweitert</translation>
    </message>
    <message>
        <source>Memory for large images:</source>
        <translation>Speicher für große Bilder:</translation>
    </message>
    <message>
        <source>Pictures too large to hold whole are read in tiles within this memory. It also limits the size of such a picture that can be copied.</source>
        <translation>Bilder, die zu groß sind, um sie ganz zu laden, werden in Kacheln innerhalb dieses Speichers gelesen. Er begrenzt auch die Größe eines solchen Bildes, das kopiert werden kann.</translation>
    </message>
    <message>
        <source> MB</source>
        <translation> MB</translation>
    </message>
</context>
<context>
    <name>kivo::ViewerAlerts</name>
    <message>
        <source>Move &quot;%1&quot; to the Trash?</source>
        <translation>&quot;%1&quot; in den Papierkorb legen?</translation>
    </message>
    <message>
        <source>Delete Image</source>
        <translation>Bild löschen</translation>
    </message>
    <message>
        <source>Delete</source>
        <translation>Löschen</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
    <message>
        <source>Error</source>
        <translation>Fehler</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
</context>
</TS>
