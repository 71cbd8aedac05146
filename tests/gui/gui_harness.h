#pragma once

// Drives the GTK window in-process: waits on the main loop, reads the real
// widgets, and scripts the modal dialogs, which run their own loops.

#include <functional>
#include <string>
#include <vector>

#include <gtk/gtk.h>

// Iterates the main loop until done() or timeoutMs; false on time-out.
bool WaitUntil(const std::function<bool()>& done, int timeoutMs = 5000);
// Lets pending events and frames run for a while.
void Pump(int ms);

// GLib warnings and criticals logged since the last call (GTK must log none).
std::vector<std::string> TakeWarnings();
void InstallWarningRecorder();

// The status bar's labels (one per part) and frames.
std::vector<GtkWidget*> StatusLabels(GtkWidget* bar);
std::vector<GtkWidget*> StatusFrames(GtkWidget* bar);

// Every text a label showed, in order, from now on.
class cTextLog {
  public:
    explicit cTextLog(GtkWidget* label);
    ~cTextLog();
    cTextLog(const cTextLog&) = delete;
    cTextLog& operator=(const cTextLog&) = delete;
    const std::vector<std::string>& Texts() const { return texts; }

  private:
    static void OnNotify(GObject* label, GParamSpec*, gpointer self);
    GtkWidget* label;
    gulong handler;
    std::vector<std::string> texts;
};

// The list's rows as the tree model holds them: the check mark and the texts.
struct cRow {
    bool checked = false;
    std::vector<std::string> texts;
};
std::vector<cRow> ReadRows(GtkWidget* treeView);
// Ticks a row the way a click on its box does: through the toggle renderer.
void ToggleRow(GtkWidget* treeView, int row);

// A visible toplevel with this title, or null.
GtkWindow* FindWindow(const char* title);
// A descendant widget by name (the add dialog names its fields by control id).
GtkWidget* FindByName(GtkWidget* root, const std::string& name);
void SetEntryText(GtkWidget* dialog, int fieldId, const char* text);
std::string GetEntryText(GtkWidget* dialog, int fieldId);
void ClickResponse(GtkWidget* dialog, int response);
// A real key press, through the X server, to the widget's window.
void SendKey(GtkWidget* widget, guint keyval, GdkModifierType modifiers = GdkModifierType(0));
// The window manager's close request, as the close box sends it.
void SendDelete(GtkWidget* window);

// Steps run one after the other, each once the window with its title is up;
// used while a modal dialog blocks the caller.
class cDialogScript {
  public:
    using tAction = std::function<void(GtkWidget* window)>;
    cDialogScript();
    ~cDialogScript();
    cDialogScript(const cDialogScript&) = delete;
    cDialogScript& operator=(const cDialogScript&) = delete;

    cDialogScript& Then(const char* title, tAction action);
    bool Finished() const { return next == steps.size(); }
    size_t StepsDone() const { return next; }

  private:
    static gboolean OnPoll(gpointer self);
    struct cStep {
        std::string title;
        tAction action;
    };
    std::vector<cStep> steps;
    size_t next = 0;
    guint source = 0;
};
