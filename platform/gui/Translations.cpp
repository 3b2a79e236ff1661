#include "platform/gui/Translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include <cstring>

namespace plm {

namespace {

struct Text {
  const char *context;
  const char *source;
  const char *french; // UTF-8
};

// The browser's texts that a widget window can show (its context menu, its file picker),
// for Qt builds that ship no French "qtwebengine" catalogue.
constexpr Text kBrowserTexts[] = {
    {"RenderViewContextMenuQt", "Back", "Précédent"},
    {"RenderViewContextMenuQt", "Forward", "Suivant"},
    {"RenderViewContextMenuQt", "Reload", "Actualiser"},
    {"RenderViewContextMenuQt", "Cut", "Couper"},
    {"RenderViewContextMenuQt", "Copy", "Copier"},
    {"RenderViewContextMenuQt", "Paste", "Coller"},
    {"RenderViewContextMenuQt", "Paste and match style", "Coller en adaptant le style"},
    {"RenderViewContextMenuQt", "Undo", "Annuler"},
    {"RenderViewContextMenuQt", "Redo", "Rétablir"},
    {"RenderViewContextMenuQt", "Select all", "Tout sélectionner"},
    {"RenderViewContextMenuQt", "Open link in new tab", "Ouvrir le lien dans un nouvel onglet"},
    {"RenderViewContextMenuQt", "Open link in new window",
     "Ouvrir le lien dans une nouvelle fenêtre"},
    {"RenderViewContextMenuQt", "Copy link address", "Copier l'adresse du lien"},
    {"RenderViewContextMenuQt", "Save link", "Enregistrer le lien"},
    {"RenderViewContextMenuQt", "Copy image", "Copier l'image"},
    {"RenderViewContextMenuQt", "Copy image address", "Copier l'adresse de l'image"},
    {"RenderViewContextMenuQt", "Save image", "Enregistrer l'image"},
    {"RenderViewContextMenuQt", "Copy media address", "Copier l'adresse du média"},
    {"RenderViewContextMenuQt", "Save media", "Enregistrer le média"},
    {"RenderViewContextMenuQt", "Show controls", "Afficher les commandes"},
    {"RenderViewContextMenuQt", "Loop", "En boucle"},
    {"RenderViewContextMenuQt", "Exit full screen", "Quitter le plein écran"},
    {"RenderViewContextMenuQt", "Save page", "Enregistrer la page"},
    {"RenderViewContextMenuQt", "View page source", "Afficher le code source de la page"},
    {"RenderViewContextMenuQt", "Inspect", "Inspecter"},
    {"QWebEnginePage", "Stop", "Arrêter"},
    {"QWebEnginePage", "Reload and Bypass Cache", "Actualiser sans le cache"},
    {"QWebEnginePage", "Unselect", "Désélectionner"},
    {"QWebEnginePage", "Open link in this window", "Ouvrir le lien dans cette fenêtre"},
    {"QWebEnginePage", "Open link in new background tab",
     "Ouvrir le lien dans un nouvel onglet en arrière-plan"},
    {"QWebEnginePage", "Close Page", "Fermer la page"},
    {"QWebEnginePage", "Toggle Play/Pause", "Lecture/Pause"},
    {"QWebEnginePage", "Toggle Mute", "Couper/rétablir le son"},
    {"QWebEnginePage", "&Bold", "&Gras"},
    {"QWebEnginePage", "&Italic", "&Italique"},
    {"QWebEnginePage", "&Underline", "&Souligné"},
    {"QWebEnginePage", "&Strikethrough", "&Barré"},
    {"QWebEnginePage", "Align &Left", "Aligner à &gauche"},
    {"QWebEnginePage", "Align &Center", "&Centrer"},
    {"QWebEnginePage", "Align &Right", "Aligner à &droite"},
    {"QWebEnginePage", "Align &Justified", "&Justifier"},
    {"QWebEnginePage", "&Indent", "&Augmenter le retrait"},
    {"QWebEnginePage", "&Outdent", "&Diminuer le retrait"},
    {"QWebEnginePage", "Insert &Unordered List", "Insérer une liste à &puces"},
    {"QWebEnginePage", "Insert &Ordered List", "Insérer une liste &numérotée"},
    {"QWebEnginePage",
     "Are you sure you want to leave this page? Changes that you made may not be saved.",
     "Voulez-vous vraiment quitter cette page ? Les modifications que vous avez faites "
     "risquent de ne pas être enregistrées."},
    {"QWebEngineView", "Select folder to upload", "Choisir le dossier à envoyer"},
    {"FilePickerController", "Accepted types (%1)", "Types acceptés (%1)"},
    {"WebContentsAdapter", "HTTP-POST data can only be sent over HTTP(S) protocol",
     "Les données HTTP-POST ne peuvent être envoyées que par le protocole HTTP(S)"},
};

class BrowserTextsFr : public QTranslator {
public:
  using QTranslator::QTranslator;
  QString translate(const char *context, const char *sourceText, const char *, int) const override {
    if (!context || !sourceText) return {};
    for (const Text &t : kBrowserTexts)
      if (std::strcmp(t.context, context) == 0 && std::strcmp(t.source, sourceText) == 0)
        return QString::fromUtf8(t.french);
    return {};
  }
  bool isEmpty() const override { return false; }
};

} // namespace

QStringList LoadFrenchTranslations() {
  QStringList missing;
  QCoreApplication *app = QCoreApplication::instance();
  // The browser engine reads the default locale once, when its first profile is made.
  QLocale::setDefault(QLocale(QLocale::French, QLocale::France));

  const QString dir = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
  auto *base = new QTranslator(app);
  if (base->load(QStringLiteral("qtbase_fr"), dir)) {
    QCoreApplication::installTranslator(base);
  } else {
    delete base;
    missing << QStringLiteral("qtbase");
  }
  auto *browser = new QTranslator(app);
  if (browser->load(QStringLiteral("qtwebengine_fr"), dir)) {
    QCoreApplication::installTranslator(browser);
  } else {
    delete browser;
    QCoreApplication::installTranslator(new BrowserTextsFr(app));
  }
  return missing;
}

} // namespace plm
