#include "gui/MainInterface.h"

#include "app/GLMachine.h"
#include "camera/GLCamera.h"
#include "camera/ReconstructionTestFiles.h"
#include "support/ImageCompare.h"
#include "support/CapturedMessages.h"

#include <gtk/gtk.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

GtkWidget *toplevel(const char *title)
{
    GtkWidget *found = nullptr;
    GList *all = gtk_window_list_toplevels();
    for (GList *w = all; w; w = w->next) {
        const char *t = gtk_window_get_title(GTK_WINDOW(w->data));
        if (t && std::string(t) == title)
            found = GTK_WIDGET(w->data);
    }
    g_list_free(all);
    return found;
}

// What the toolkit hands a drop target once the data of a drop has arrived.
void dropUris(GtkWidget *target, const std::string &uris)
{
    GtkSelectionData data{};
    data.target = gdk_atom_intern("text/uri-list", FALSE);
    data.type = data.target;
    data.format = 8;
    data.data = reinterpret_cast<guchar *>(const_cast<char *>(uris.c_str()));
    data.length = static_cast<gint>(uris.size());
    GdkDragContext *context = GDK_DRAG_CONTEXT(g_object_new(GDK_TYPE_DRAG_CONTEXT, nullptr));
    g_signal_emit_by_name(target, "drag-data-received", context, 10, 10, &data, 0u, 0u);
    g_object_unref(context);
}

void pumpUntil(const std::function<bool()> &done)
{
    for (int i = 0; i < 2000 && !done(); ++i)
        gtk_main_iteration_do(FALSE);
}

} // namespace

TEST(DropFiles, UriListsGiveLocalFileNames)
{
    testsupport::CapturedMessages captured;
    const std::vector<std::string> files = MainInterface::filesFromUriList(
        "# dropped\r\nfile:///tmp/a%20b.tri\r\nhttp://example.org/x.off\r\nfile:///c/d.off\r\n");
    const std::string out = captured.take();
    EXPECT_EQ((std::vector<std::string>{"/tmp/a b.tri", "/c/d.off"}), files);
    EXPECT_NE(std::string::npos, out.find("http://example.org/x.off is not a local file")) << out;
    EXPECT_TRUE(MainInterface::filesFromUriList(nullptr).empty());
}

// A COLMAP model folder dropped on the control window, then a model file dropped on the view
// window, each open as the "open file" dialog would open them.
TEST(DropFiles, DroppedFilesOpenOnEitherWindow)
{
    MainInterface *window = nullptr;
    std::unique_ptr<GLMachine> machine(new GLMachine(256, 256, [&window](GLMachine *m, int w, int h) {
        window = new MainInterface(m, "Velmora", w, h);
        return std::unique_ptr<SceneWindow>(window);
    }));
    pumpUntil([] { return !gtk_events_pending(); });
    GtkWidget *view = toplevel("Velmora"), *control = toplevel("Interface");
    ASSERT_TRUE(view && control);

    const recontest::Model m = recontest::knownModel();
    const std::string a = testsupport::makeTempDir("drop-a"), b = testsupport::makeTempDir("drop-b");
    recontest::writeColmapText(m, a);
    recontest::writeColmapBinary(m, b);

    testsupport::CapturedMessages captured;
    gchar *uri = g_filename_to_uri(a.c_str(), nullptr, nullptr);
    dropUris(control, std::string(uri) + "\r\n");
    g_free(uri);
    pumpUntil([&] { return machine->getNObjects() == 1; });
    EXPECT_EQ(1, machine->getNCameras());
    EXPECT_EQ(1, machine->getNObjects());
    ASSERT_TRUE(machine->getCurrentCamera());
    EXPECT_EQ(3, machine->getCurrentCamera()->getNViews());

    uri = g_filename_to_uri((b + "/images.bin").c_str(), nullptr, nullptr);
    dropUris(view, std::string(uri) + "\r\n");
    g_free(uri);
    pumpUntil([&] { return machine->getNObjects() == 2; });
    const std::string out = captured.take();
    EXPECT_EQ(2, machine->getNCameras()) << out;
    EXPECT_EQ(2, machine->getNObjects()) << out;
}
