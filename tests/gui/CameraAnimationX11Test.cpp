#include "app/GLMachine.h"
#include "formats/AviContainer.h"
#include "camera/GLCamera.h"
#include "camera/GLCameraAnimationImpl.h"
#include "gui/GtkEList.h"
#include "gui/GtkPanel.h"
#include "gui/MainInterface.h"
#include "gui/cameraAnimationInterface.h"
#include "image/Bitmap.h"
#include "math/Messages.h"
#include "support/ImageCompare.h"
#include "support/MathCompare.h"
#include "support/Process.h"
#include "support/TestObject.h"
#include "support/CapturedMessages.h"

#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <unistd.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <thread>

namespace
{

namespace fs = std::filesystem;

void pumpEvents()
{
    for (int i = 0; i < 200 && gtk_events_pending(); ++i)
        gtk_main_iteration_do(FALSE);
}

GtkWidget *menuEntry(GtkWidget *title, const char *label)
{
    GtkWidget *menu = gtk_menu_item_get_submenu(GTK_MENU_ITEM(title));
    GList *items = gtk_container_get_children(GTK_CONTAINER(menu));
    GtkWidget *found = nullptr;
    for (GList *i = items; i && !found; i = i->next)
        if (GTK_IS_MENU_ITEM(i->data)) {
            const char *text = gtk_menu_item_get_label(GTK_MENU_ITEM(i->data));
            if (text && std::string(text) == label)
                found = GTK_WIDGET(i->data);
        }
    g_list_free(items);
    return found;
}

/// "key=value" lines of ffprobe as a map lookup.
std::string probeValue(const std::string &text, const std::string &key)
{
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line))
        if (line.compare(0, key.size() + 1, key + "=") == 0)
            return line.substr(key.size() + 1);
    return "";
}

double meanAbsoluteDifference(const Bitmap &a, const Bitmap &b)
{
    double sum = 0;
    const size_t n = static_cast<size_t>(a.width) * a.height;
    for (size_t i = 0; i < n; ++i)
        sum += std::abs(a.pixels[i].r - b.pixels[i].r) + std::abs(a.pixels[i].g - b.pixels[i].g) +
               std::abs(a.pixels[i].b - b.pixels[i].b);
    return sum / (3.0 * n);
}

// The flight as a user makes it in the "Camera Animation" window: opened from the camera's
// menu, three key cameras added, the flight played, then exported as 20 images and as a film
// in every codec offered; each film holds the same frames as the images.
TEST(CameraAnimationWindow, RecordsPlaysAndExportsAFlight)
{
    const std::string dir = testsupport::makeTempDir("CameraAnimationX11");
    char previous[4096];
    ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
    ASSERT_EQ(chdir(dir.c_str()), 0);

    MainInterface *main = nullptr;
    std::unique_ptr<GLMachine> machine(new GLMachine(160, 120, [&main](GLMachine *m, int w, int h) {
        main = new MainInterface(m, "Velmora", w, h);
        return std::unique_ptr<SceneWindow>(main);
    }));
    pumpEvents();
    testsupport::CapturedMessages captured;
    auto *camera = static_cast<GLCamera *>(machine->registerObject("default.dat"));
    auto *box = testsupport::TestObject::box(Point3(-1, -1, -1), Point3(1, 1.5f, 0.5f));
    box->useSurface();
    machine->registerObject(box, "box.tri");
    captured.take();
    ASSERT_NE(camera, nullptr);
    pumpEvents();

    // The camera's menu opens the window.
    GtkWidget *cameraMenu = GtkPanel::of(camera)->getMainMenuBar();
    GtkWidget *entry = menuEntry(cameraMenu, "Camera Animation");
    ASSERT_NE(entry, nullptr);
    gtk_menu_item_activate(GTK_MENU_ITEM(entry));
    pumpEvents();
    auto *animation = dynamic_cast<GLCameraAnimationImpl *>(camera->getAnimation());
    ASSERT_NE(animation, nullptr);
    auto *window = dynamic_cast<cameraAnimationInterface *>(animation->getWindow());
    ASSERT_NE(window, nullptr);
    EXPECT_STREQ(gtk_window_get_title(GTK_WINDOW(window->getWindow())), "Camera Animation");

    // Three key cameras, the scene turned with the mouse between them.
    for (int k = 0; k < 3; ++k) {
        if (k > 0) {
            machine->notifyClick(InputEvent::press(1), 80, 60);
            machine->notifyDrag(InputEvent::motion(1), 80 + 25 * k, 60 + 5 * k);
            machine->notifyClick(InputEvent::release(1), 80 + 25 * k, 60 + 5 * k);
        }
        gtk_button_clicked(GTK_BUTTON(window->findWidget("add")));
    }
    ASSERT_EQ(animation->getNKeyCameras(), 3);
    EXPECT_EQ(window->getList()->getNumberOfItems(), 3);
    EXPECT_EQ(window->getList()->getItemLabel(2), "3");

    // The numbers move with their cameras; a row the user unselects is not removed afterwards.
    GtkEList *list = window->getList();
    list->setSelectedItem(2);
    gtk_button_clicked(GTK_BUTTON(window->findWidget("up")));
    EXPECT_EQ(list->getItemLabel(1), "3");
    EXPECT_EQ(list->getItemLabel(2), "2");
    gtk_tree_selection_unselect_all(gtk_tree_view_get_selection(list->getTreeView()));
    EXPECT_EQ(animation->getSelected(), -1);
    gtk_button_clicked(GTK_BUTTON(window->findWidget("remove")));
    EXPECT_EQ(animation->getNKeyCameras(), 3) << "nothing selected, nothing removed";

    // The export names are asked with Save choosers that confirm overwriting.
    for (const char *item : {"Export to camera file", "Export to image sequence", "Export to avi"}) {
        gtk_menu_item_activate(GTK_MENU_ITEM(window->findWidget(item)));
        GtkFileChooser *chooser = nullptr;
        GList *windows = gtk_window_list_toplevels();
        for (GList *w = windows; w; w = w->next)
            if (GTK_IS_FILE_CHOOSER(w->data) && gtk_widget_get_visible(GTK_WIDGET(w->data)))
                chooser = GTK_FILE_CHOOSER(w->data);
        g_list_free(windows);
        ASSERT_NE(chooser, nullptr) << item;
        EXPECT_EQ(gtk_file_chooser_get_action(chooser), GTK_FILE_CHOOSER_ACTION_SAVE) << item;
        EXPECT_TRUE(gtk_file_chooser_get_do_overwrite_confirmation(chooser)) << item;
        gtk_dialog_response(GTK_DIALOG(chooser), GTK_RESPONSE_CANCEL);
    }

    gtk_spin_button_set_value(GTK_SPIN_BUTTON(window->findWidget("seconds")), 1);
    gtk_spin_button_set_value(GTK_SPIN_BUTTON(window->findWidget("fps")), 20);
    EXPECT_EQ(animation->getFrameCount(), 20);

    // Playing runs on the toolkit's timer and ends at the last key camera.
    gtk_button_clicked(GTK_BUTTON(window->findWidget("play")));
    EXPECT_TRUE(animation->isPlaying());
    const auto start = std::chrono::steady_clock::now();
    while (animation->isPlaying() && std::chrono::steady_clock::now() - start < std::chrono::seconds(30)) {
        gtk_main_iteration_do(FALSE);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    EXPECT_FALSE(animation->isPlaying()) << "the flight ends by itself";
    EXPECT_TRUE(testsupport::near(camera->getModelViewMatrix(),
                                  animation->getKeyCamera(2).getModelViewMatrix(), 1e-3f));

    // The image sequence (the name as the "sequence filename" dialog hands it over).
    window->onImageName("seq.png");
    for (int k = 0; k < 20; ++k) {
        char name[32];
        std::snprintf(name, sizeof name, "seq%04d.png", k);
        ASSERT_TRUE(fs::exists(name)) << name;
    }
    EXPECT_FALSE(fs::exists("seq0020.png"));
    Bitmap middle("seq0010.png");
    ASSERT_EQ(middle.width, 160);
    ASSERT_EQ(middle.height, 120);

    // One film per codec offered, named without an extension: the codec's is added.
    const std::vector<std::string> codecs = AviContainer::getCodecList();
    ASSERT_EQ(codecs[0], "RAW format");
    for (size_t c = 0; c < codecs.size(); ++c) {
        SCOPED_TRACE(codecs[c]);
        window->onCodec(static_cast<int>(c));
        const std::string base = "film" + std::to_string(c);
        window->onAviName(base.c_str());
        const std::string film = AviContainer::fileNameFor(base.c_str(), static_cast<int>(c));
        ASSERT_TRUE(fs::exists(film)) << film;
        EXPECT_FALSE(fs::exists(film + ".part"));

        const testsupport::ProcessResult probe = testsupport::runProcess(
            {"/usr/bin/ffprobe", "-v", "error", "-count_frames", "-select_streams", "v:0", "-show_entries",
             "stream=nb_read_frames,r_frame_rate,width,height", "-of", "default=noprint_wrappers=1", film});
        ASSERT_EQ(probe.exitStatus, 0) << probe.err;
        EXPECT_EQ(probeValue(probe.out, "nb_read_frames"), "20") << probe.out;
        EXPECT_EQ(probeValue(probe.out, "r_frame_rate"), "20/1") << probe.out;
        EXPECT_EQ(probeValue(probe.out, "width"), "160");
        EXPECT_EQ(probeValue(probe.out, "height"), "120");

        const std::string frame = base + "_10.png";
        const testsupport::ProcessResult decode = testsupport::runProcess(
            {"/usr/bin/ffmpeg", "-v", "error", "-y", "-i", film, "-vf", "select=eq(n\\,10)", "-fps_mode",
             "passthrough", "-frames:v", "1", frame});
        ASSERT_EQ(decode.exitStatus, 0) << decode.err;
        Bitmap decoded(frame.c_str());
        ASSERT_EQ(decoded.width, 160);
        ASSERT_EQ(decoded.height, 120);
        EXPECT_LT(meanAbsoluteDifference(decoded, middle), c == 0 ? 2.0 : 8.0);
    }

    // A film that cannot be written: the reason stays in the progress window until closed.
    CapturingMessageSink said;
    ScopedMessageSink scope(said);
    window->onCodec(0);
    window->onAviName("missing/film");
    EXPECT_EQ(said.text(MessageLevel::Error).rfind("GLCameraAnimation: ", 0), 0u) << said.text();
    EXPECT_FALSE(fs::exists("missing"));
    GtkWidget *progress = nullptr;
    GList *windows = gtk_window_list_toplevels();
    for (GList *w = windows; w; w = w->next) {
        const char *title = gtk_window_get_title(GTK_WINDOW(w->data));
        if (title && std::string(title) == "missing/film.avi" && gtk_widget_get_visible(GTK_WIDGET(w->data)))
            progress = GTK_WIDGET(w->data);
    }
    g_list_free(windows);
    ASSERT_NE(progress, nullptr);
    GtkWidget *content = gtk_bin_get_child(GTK_BIN(progress));
    GList *parts = gtk_container_get_children(GTK_CONTAINER(content));
    const std::string message = gtk_label_get_text(GTK_LABEL(g_list_nth_data(parts, 1)));
    GtkButton *close = GTK_BUTTON(g_list_nth_data(parts, 2));
    g_list_free(parts);
    EXPECT_EQ(message.rfind("cannot create missing/film.avi.part", 0), 0u) << message;
    EXPECT_STREQ(gtk_button_get_label(close), "Close");
    gtk_button_clicked(close);
    pumpEvents();

    // Closing the window turns the animation off.
    gtk_widget_destroy(window->getWindow());
    pumpEvents();
    EXPECT_EQ(camera->getAnimation(), nullptr);

    machine.reset();
    ASSERT_EQ(chdir(previous), 0);
}

} // namespace
