#include "gui/ColorInterface.h"
#include "gui/Delegate0.h"
#include "gui/Delegate1.h"
#include "gui/Delegate2.h"
#include "gui/Delegate2Int.h"
#include "gui/FileDialog.h"
#include "gui/GtkEList.h"
#include "gui/ListDialog.h"
#include "gui/ProgressBar.h"

#include "support/ImageCompare.h"

#include <gtest/gtest.h>

#include <gdk/gdkkeysyms.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace {

// The toolkit is initialised once for the whole executable, before any test runs.
class GtkEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        ASSERT_TRUE(gtk_init_check(nullptr, nullptr)) << "these tests need an X display";
    }
};
::testing::Environment *const gtkEnvironment = ::testing::AddGlobalTestEnvironment(new GtkEnvironment);

void pumpEvents()
{
    while (gtk_events_pending())
        gtk_main_iteration();
}

// Runs the main loop until `done` holds or five seconds have passed; returns `done()`.
template <class Done> bool pumpUntil(Done done)
{
    const gint64 end = g_get_monotonic_time() + 5 * G_TIME_SPAN_SECOND;
    while (!done() && g_get_monotonic_time() < end) {
        pumpEvents();
        g_usleep(2000);
    }
    return done();
}

// Keeps a pointer that the toolkit clears when the object is destroyed.
template <class T> struct Watch {
    explicit Watch(T *object) : ptr(object) { g_object_add_weak_pointer(G_OBJECT(ptr), watchSlot()); }
    ~Watch()
    {
        if (ptr)
            g_object_remove_weak_pointer(G_OBJECT(ptr), watchSlot());
    }
    Watch(const Watch &) = delete;
    Watch &operator=(const Watch &) = delete;
    gpointer *watchSlot() { return reinterpret_cast<gpointer *>(&ptr); }
    bool gone() const { return ptr == nullptr; }
    T *ptr;
};

// A value whose copies are counted, to see when a binding record is released.
struct Tracked {
    static int live;
    explicit Tracked(int v = 0) : value(v) { ++live; }
    Tracked(const Tracked &o) : value(o.value) { ++live; }
    Tracked &operator=(const Tracked &) = default;
    ~Tracked() { --live; }
    int value;
};
int Tracked::live = 0;

// Owns a toolkit object for the length of a test, whether or not it is floating.
struct Owned {
    explicit Owned(gpointer object) : ptr(object) { g_object_ref_sink(ptr); }
    ~Owned()
    {
        if (GTK_IS_WIDGET(ptr))
            gtk_widget_destroy(GTK_WIDGET(ptr));
        g_object_unref(ptr);
    }
    Owned(const Owned &) = delete;
    Owned &operator=(const Owned &) = delete;
    gpointer ptr;
};

gboolean emitEvent(GtkWidget *widget, const char *signal, GdkEvent *event)
{
    gboolean handled = FALSE;
    g_signal_emit_by_name(widget, signal, event, &handled);
    return handled;
}

// ---------------------------------------------------------------------------------------------
// Signal binding

struct Target {
    virtual ~Target() = default;
    virtual void touched() { log.push_back("target"); }
    void widget(GtkWidget *w) { widgets.push_back(w); }
    void text(const char *t) { log.push_back(t ? t : "(null)"); }
    void number(int v) { numbers.push_back(v); }
    void tracked(Tracked t) { numbers.push_back(t.value); }
    void widgetNumber(GtkWidget *w, int v)
    {
        widgets.push_back(w);
        numbers.push_back(v);
    }
    void adjustmentNumber(GtkAdjustment *a, int v)
    {
        adjustments.push_back(a);
        numbers.push_back(v);
    }
    void widgetEvent(GtkWidget *w, GdkEvent *e)
    {
        widgets.push_back(w);
        events.push_back(e);
    }
    void keyEvent(GtkWidget *w, GdkEventKey *e)
    {
        widgets.push_back(w);
        numbers.push_back(static_cast<int>(e->keyval));
    }
    std::vector<std::string> log;
    std::vector<GtkWidget *> widgets;
    std::vector<GtkAdjustment *> adjustments;
    std::vector<GdkEvent *> events;
    std::vector<int> numbers;
};

struct DerivedTarget : Target {
    void touched() override { log.push_back("derived"); }
};

TEST(SignalBinding, Delegate0CallsTheBoundMemberAndReportsHandledOnlyWhenAsked)
{
    Owned button(gtk_button_new());
    DerivedTarget derived;
    Target *asBase = &derived;
    ASSERT_NE(Delegate0::connect(button.ptr, "clicked", fastdelegate::MakeDelegate(asBase, &Target::touched)),
              0u);
    gtk_button_clicked(GTK_BUTTON(button.ptr));
    gtk_button_clicked(GTK_BUTTON(button.ptr));
    EXPECT_EQ(derived.log, (std::vector<std::string>{"derived", "derived"}));

    GdkEvent *event = gdk_event_new(GDK_DELETE);
    Owned plain(gtk_window_new(GTK_WINDOW_TOPLEVEL));
    Owned guarded(gtk_window_new(GTK_WINDOW_TOPLEVEL));
    Target target;
    Delegate0::connect(plain.ptr, "delete-event", fastdelegate::MakeDelegate(&target, &Target::touched));
    Delegate0::connectTrue(guarded.ptr, "delete-event",
                           fastdelegate::MakeDelegate(&target, &Target::touched));
    EXPECT_FALSE(emitEvent(GTK_WIDGET(plain.ptr), "delete-event", event));
    EXPECT_TRUE(emitEvent(GTK_WIDGET(guarded.ptr), "delete-event", event));
    EXPECT_EQ(target.log.size(), 2u);
    gdk_event_free(event);
}

TEST(SignalBinding, Delegate1TakesTheSignalValueOrTheStoredOne)
{
    Owned button(gtk_button_new());
    Target target;
    Delegate1<GtkWidget *>::connect(button.ptr, "clicked",
                                    fastdelegate::MakeDelegate(&target, &Target::widget));
    // A clicked button is no number: the stored value stands in.
    Delegate1<int>::connect(button.ptr, "clicked", fastdelegate::MakeDelegate(&target, &Target::number), 7);
    Delegate1<int>::connectObject(button.ptr, "clicked", fastdelegate::MakeDelegate(&target, &Target::number),
                                  11);
    char key[] = "object.add";
    Delegate1<const char *>::connectObject(button.ptr, "clicked",
                                           fastdelegate::MakeDelegate(&target, &Target::text), key);
    std::strcpy(key, "changed");

    gtk_button_clicked(GTK_BUTTON(button.ptr));
    EXPECT_EQ(target.widgets, (std::vector<GtkWidget *>{GTK_WIDGET(button.ptr)}));
    EXPECT_EQ(target.numbers, (std::vector<int>{7, 11}));
    // The record kept its own copy of the key text.
    EXPECT_EQ(target.log, (std::vector<std::string>{"object.add"}));
}

TEST(SignalBinding, Delegate2FillsMissingSignalValuesFromTheStoredOnes)
{
    Target target;

    // Two signal values: widget and event.
    Owned area(gtk_drawing_area_new());
    Delegate2<GtkWidget *, GdkEvent *>::connect(area.ptr, "button-press-event",
                                                fastdelegate::MakeDelegate(&target, &Target::widgetEvent));
    GdkEvent *press = gdk_event_new(GDK_BUTTON_PRESS);
    EXPECT_FALSE(emitEvent(GTK_WIDGET(area.ptr), "button-press-event", press));
    ASSERT_EQ(target.events.size(), 1u);
    EXPECT_EQ(target.widgets.back(), GTK_WIDGET(area.ptr));
    EXPECT_EQ(target.events.back()->type, GDK_BUTTON_PRESS);
    gdk_event_free(press);

    // Two signal values, the second a number: the dialog and its response id.
    Owned dialog(gtk_dialog_new());
    Delegate2<GtkWidget *, int>::connect(
        dialog.ptr, "response", fastdelegate::MakeDelegate(&target, &Target::widgetNumber), nullptr, -1);
    gtk_dialog_response(GTK_DIALOG(dialog.ptr), 42);
    EXPECT_EQ(target.widgets.back(), GTK_WIDGET(dialog.ptr));
    EXPECT_EQ(target.numbers.back(), 42);

    // One signal value: the adjustment, then the stored number that tells two spin buttons apart.
    Owned adjustment(gtk_adjustment_new(10, 1, 2048, 1, 10, 0));
    Delegate2<GtkAdjustment *, int>::connect(adjustment.ptr, "value-changed",
                                             fastdelegate::MakeDelegate(&target, &Target::adjustmentNumber),
                                             nullptr, 1);
    gtk_adjustment_set_value(GTK_ADJUSTMENT(adjustment.ptr), 300);
    ASSERT_EQ(target.adjustments.size(), 1u);
    EXPECT_EQ(target.adjustments.back(), GTK_ADJUSTMENT(adjustment.ptr));
    EXPECT_EQ(target.numbers.back(), 1);

    // Stored values only, whatever the signal carries.
    Owned other(gtk_button_new());
    Delegate2<GtkWidget *, int>::connectObject(dialog.ptr, "response",
                                               fastdelegate::MakeDelegate(&target, &Target::widgetNumber),
                                               GTK_WIDGET(other.ptr), 0);
    gtk_dialog_response(GTK_DIALOG(dialog.ptr), 5);
    ASSERT_GE(target.widgets.size(), 2u);
    EXPECT_EQ(target.widgets.back(), GTK_WIDGET(other.ptr));
    EXPECT_EQ(target.numbers.back(), 0);
}

TEST(SignalBinding, Delegate2RefusesSignalsWithMoreThanTwoValues)
{
    Owned view(gtk_tree_view_new());
    Target target;
    Delegate2<GtkWidget *, int>::connect(view.ptr, "row-activated",
                                         fastdelegate::MakeDelegate(&target, &Target::widgetNumber));
    GtkTreePath *path = gtk_tree_path_new_first();
    testing::internal::CaptureStdout();
    g_signal_emit_by_name(view.ptr, "row-activated", path, nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "SLOT: error in callback with 2 arguments\n");
    EXPECT_TRUE(target.widgets.empty());

    // The stored-value form does not look at the signal's values at all.
    Delegate2<GtkWidget *, int>::connectObject(view.ptr, "row-activated",
                                               fastdelegate::MakeDelegate(&target, &Target::widgetNumber),
                                               GTK_WIDGET(view.ptr), 2);
    testing::internal::CaptureStdout();
    g_signal_emit_by_name(view.ptr, "row-activated", path, nullptr);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(target.numbers, (std::vector<int>{2}));
    gtk_tree_path_free(path);
}

TEST(SignalBinding, Delegate2IntReportsKeyEventsHandled)
{
    Owned area(gtk_drawing_area_new());
    Target target;
    Delegate2Int<GtkWidget *, GdkEventKey *>::connect(area.ptr, "key-press-event",
                                                      fastdelegate::MakeDelegate(&target, &Target::keyEvent));
    GdkEvent *key = gdk_event_new(GDK_KEY_PRESS);
    key->key.keyval = GDK_KEY_q;
    EXPECT_TRUE(emitEvent(GTK_WIDGET(area.ptr), "key-press-event", key));
    EXPECT_EQ(target.numbers, (std::vector<int>{GDK_KEY_q}));
    gdk_event_free(key);
}

TEST(SignalBinding, TheConnectionOwnsTheRecord)
{
    Target target;
    const int before = Tracked::live;
    GtkWidget *button = gtk_button_new();
    g_object_ref_sink(button);

    gulong id = Delegate1<Tracked>::connectObject(
        button, "clicked", fastdelegate::MakeDelegate(&target, &Target::tracked), Tracked(5));
    EXPECT_EQ(Tracked::live, before + 1);
    gtk_button_clicked(GTK_BUTTON(button));
    EXPECT_EQ(target.numbers, (std::vector<int>{5}));
    g_signal_handler_disconnect(button, id);
    EXPECT_EQ(Tracked::live, before);

    Delegate1<Tracked>::connectObject(button, "clicked",
                                      fastdelegate::MakeDelegate(&target, &Target::tracked), Tracked(6));
    EXPECT_EQ(Tracked::live, before + 1);
    gtk_widget_destroy(button);
    EXPECT_EQ(Tracked::live, before);
    g_object_unref(button);

    // A signal the instance does not have: nothing is connected and nothing is kept.
    Owned other(gtk_button_new());
    testing::internal::CaptureStdout();
    gulong none = Delegate1<Tracked>::connectObject(
        other.ptr, "no-such-signal", fastdelegate::MakeDelegate(&target, &Target::tracked), Tracked(7));
    std::string message = testing::internal::GetCapturedStdout();
    EXPECT_EQ(none, 0u);
    EXPECT_EQ(message.rfind("SLOT: ", 0), 0u) << message;
    EXPECT_EQ(Tracked::live, before);
}

struct SelfDestroyer {
    void destroy(Tracked t)
    {
        gtk_widget_destroy(button);
        values.push_back(t.value);
    }
    GtkWidget *button;
    std::vector<int> values;
};

TEST(SignalBinding, AHandlerMayDestroyItsOwnWidget)
{
    const int before = Tracked::live;
    Owned button(gtk_button_new());
    SelfDestroyer destroyer{GTK_WIDGET(button.ptr), {}};
    Delegate1<Tracked>::connectObject(
        button.ptr, "clicked", fastdelegate::MakeDelegate(&destroyer, &SelfDestroyer::destroy), Tracked(3));
    gtk_button_clicked(GTK_BUTTON(button.ptr));
    gtk_button_clicked(GTK_BUTTON(button.ptr));
    EXPECT_EQ(destroyer.values, (std::vector<int>{3}));
    EXPECT_EQ(Tracked::live, before);
}

// ---------------------------------------------------------------------------------------------
// GtkEList

std::vector<std::string> labelsOf(const GtkEList &list)
{
    std::vector<std::string> out;
    for (int i = 0; i < list.getNumberOfItems(); ++i)
        out.push_back(list.getItemLabel(i));
    return out;
}

void selectByUser(GtkEList &list, int row)
{
    GtkTreePath *path = gtk_tree_path_new_from_indices(row, -1);
    gtk_tree_selection_select_path(gtk_tree_view_get_selection(list.getTreeView()), path);
    gtk_tree_path_free(path);
}

int rowSelectedInView(const GtkEList &list)
{
    GtkTreeModel *model = nullptr;
    GtkTreeIter iter;
    if (!gtk_tree_selection_get_selected(gtk_tree_view_get_selection(list.getTreeView()), &model, &iter))
        return -1;
    GtkTreePath *path = gtk_tree_model_get_path(model, &iter);
    int row = gtk_tree_path_get_indices(path)[0];
    gtk_tree_path_free(path);
    return row;
}

class GtkEListTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        list.registerCallback(fastdelegate::MakeDelegate(&target, &Target::number));
        for (int i = 0; i < 3; ++i)
            list.add(-1, 0x100, names[i], &items[i]);
    }
    GtkEList list{"Objects"};
    Target target;
    int items[5] = {0, 1, 2, 3, 4};
    const char *names[5] = {"a.tri", "b.off", "c.dat", "d.oct", "e.png"};
};

TEST_F(GtkEListTest, HasOneColumnUnderItsTitle)
{
    GtkTreeView *view = list.getTreeView();
    ASSERT_NE(view, nullptr);
    ASSERT_NE(gtk_tree_view_get_column(view, 0), nullptr);
    EXPECT_EQ(gtk_tree_view_get_column(view, 1), nullptr);
    EXPECT_STREQ(gtk_tree_view_column_get_title(gtk_tree_view_get_column(view, 0)), "Objects");
    EXPECT_EQ(gtk_bin_get_child(GTK_BIN(list.getWidget())), GTK_WIDGET(view));
}

TEST_F(GtkEListTest, AddAppendsOrInsertsAndReturnsTheRow)
{
    EXPECT_EQ(labelsOf(list), (std::vector<std::string>{"a.tri", "b.off", "c.dat"}));
    EXPECT_EQ(list.add(1, 0x100, names[3], &items[3]), 1);
    EXPECT_EQ(list.add(99, 0x100, names[4], &items[4]), 4);
    EXPECT_EQ(list.add(0, 0x100, nullptr, nullptr), 0);
    EXPECT_EQ(labelsOf(list), (std::vector<std::string>{"", "a.tri", "d.oct", "b.off", "c.dat", "e.png"}));
    EXPECT_EQ(list.getNumberOfItems(), 6);
    EXPECT_EQ(list.getItemData(2), &items[3]);
    EXPECT_EQ(list.getItemData(5), &items[4]);
    EXPECT_EQ(list.getItemData(0), nullptr);
    EXPECT_EQ(list.getItemData(6), nullptr);
    EXPECT_EQ(list.getItemData(-1), nullptr);
    EXPECT_TRUE(target.numbers.empty()) << "adding rows selects nothing";
}

TEST_F(GtkEListTest, TheIconFollowsTheExtension)
{
    ASSERT_NE(GtkEList::camera_pixmap, nullptr);
    ASSERT_NE(GtkEList::object_pixmap, nullptr);
    EXPECT_NE(GtkEList::camera_pixmap, GtkEList::object_pixmap);
    EXPECT_EQ(gdk_pixbuf_get_width(GtkEList::camera_pixmap), 16);
    EXPECT_EQ(gdk_pixbuf_get_height(GtkEList::object_pixmap), 16);

    list.remove(-1);
    const std::vector<std::pair<const char *, GdkPixbuf *>> cases = {
        {"param.dat", GtkEList::camera_pixmap},     {"scan.tri.dat", GtkEList::camera_pixmap},
        {"mesh.tri", GtkEList::object_pixmap},      {"PARAM.DAT", GtkEList::object_pixmap},
        {"param.data", GtkEList::object_pixmap},    {"dat", GtkEList::object_pixmap},
        {"param.dat.off", GtkEList::object_pixmap}, {"trailing.", GtkEList::object_pixmap},
    };
    for (const auto &c : cases)
        list.add(-1, 0x1000, c.first, nullptr);
    for (size_t i = 0; i < cases.size(); ++i)
        EXPECT_EQ(list.getItemPixmap(static_cast<int>(i)), cases[i].second) << cases[i].first;
    EXPECT_EQ(GtkEList::getPixmapByType(nullptr), GtkEList::object_pixmap);
    EXPECT_EQ(GtkEList::getPixmapByType("dat"), GtkEList::camera_pixmap);
    EXPECT_EQ(list.getItemPixmap(99), nullptr);
}

TEST_F(GtkEListTest, SelectionRunsTheCallbackOncePerNewRow)
{
    list.setSelectedItem(1);
    EXPECT_EQ(list.getSelectedItem(), 1);
    EXPECT_EQ(rowSelectedInView(list), 1);
    selectByUser(list, 2);
    EXPECT_EQ(list.getSelectedItem(), 2);
    // Asking again for the selected row acts on it again.
    list.setSelectedItem(2);
    EXPECT_EQ(target.numbers, (std::vector<int>{1, 2, 2}));

    list.setSelectedItem(3);
    list.setSelectedItem(-1);
    EXPECT_EQ(list.getSelectedItem(), 2);

    gtk_tree_selection_unselect_all(gtk_tree_view_get_selection(list.getTreeView()));
    EXPECT_EQ(list.getSelectedItem(), -1);
    EXPECT_EQ(target.numbers.size(), 3u) << "unselecting calls nothing";
}

TEST_F(GtkEListTest, RemoveKeepsTheSelectionOnItsRow)
{
    list.add(-1, 0x100, names[3], &items[3]);
    list.setSelectedItem(2);
    list.remove(0);
    EXPECT_EQ(labelsOf(list), (std::vector<std::string>{"b.off", "c.dat", "d.oct"}));
    EXPECT_EQ(list.getSelectedItem(), 1);
    EXPECT_EQ(list.getItemData(list.getSelectedItem()), &items[2]);

    list.remove(3);
    list.remove(17);
    EXPECT_EQ(list.getNumberOfItems(), 3);

    list.remove(1);
    EXPECT_EQ(list.getSelectedItem(), -1);
    EXPECT_EQ(labelsOf(list), (std::vector<std::string>{"b.off", "d.oct"}));
    EXPECT_EQ(target.numbers, (std::vector<int>{2})) << "removing rows selects nothing";

    list.setSelectedItem(0);
    list.remove(-1);
    EXPECT_EQ(list.getNumberOfItems(), 0);
    EXPECT_EQ(list.getSelectedItem(), -1);
    EXPECT_EQ(list.add(-1, 0, "again.tri", nullptr), 0);
}

TEST_F(GtkEListTest, SwapMovesTheSelectionWithItsRow)
{
    list.setSelectedItem(0);
    list.swap(0, 2);
    EXPECT_EQ(labelsOf(list), (std::vector<std::string>{"c.dat", "b.off", "a.tri"}));
    EXPECT_EQ(list.getItemData(0), &items[2]);
    EXPECT_EQ(list.getSelectedItem(), 2);
    EXPECT_EQ(rowSelectedInView(list), 2);
    EXPECT_EQ(list.getItemPixmap(0), GtkEList::camera_pixmap);

    list.swap(1, 2);
    EXPECT_EQ(list.getSelectedItem(), 1);
    list.swap(0, 2);
    EXPECT_EQ(list.getSelectedItem(), 1) << "a swap of other rows leaves the selection alone";
    EXPECT_EQ(list.getItemData(1), &items[0]);
    EXPECT_EQ(target.numbers, (std::vector<int>{0})) << "swapping selects nothing";

    const std::vector<std::string> before = labelsOf(list);
    list.swap(0, 3);
    list.swap(-1, 1);
    list.swap(3, 7);
    list.swap(1, 1);
    EXPECT_EQ(labelsOf(list), before);
    EXPECT_EQ(list.getSelectedItem(), 1);
}

TEST_F(GtkEListTest, ASelectedRowIsScrolledIntoView)
{
    for (int i = 3; i < 60; ++i)
        list.add(-1, 0, ("row" + std::to_string(i) + ".tri").c_str(), nullptr);
    Owned window(gtk_window_new(GTK_WINDOW_TOPLEVEL));
    gtk_window_set_default_size(GTK_WINDOW(window.ptr), 140, 240);
    gtk_container_add(GTK_CONTAINER(window.ptr), list.getWidget());
    gtk_widget_show_all(GTK_WIDGET(window.ptr));
    GtkAdjustment *scroll = gtk_scrolled_window_get_vadjustment(GTK_SCROLLED_WINDOW(list.getWidget()));
    ASSERT_TRUE(
        pumpUntil([&] { return gtk_adjustment_get_upper(scroll) > gtk_adjustment_get_page_size(scroll); }));

    auto shows = [&](int row) {
        GtkTreePath *start = nullptr, *end = nullptr;
        if (!gtk_tree_view_get_visible_range(list.getTreeView(), &start, &end))
            return false;
        bool inside = gtk_tree_path_get_indices(start)[0] < row && row < gtk_tree_path_get_indices(end)[0];
        gtk_tree_path_free(start);
        gtk_tree_path_free(end);
        return inside;
    };
    EXPECT_FALSE(shows(45));
    list.setSelectedItem(45);
    EXPECT_TRUE(pumpUntil([&] { return shows(45); }));
    pumpEvents();

    // A row already in full view does not move the list.
    const double settled = gtk_adjustment_get_value(scroll);
    list.setSelectedItem(46);
    pumpEvents();
    EXPECT_EQ(gtk_adjustment_get_value(scroll), settled);

    list.setSelectedItem(1);
    EXPECT_TRUE(pumpUntil([&] { return gtk_adjustment_get_value(scroll) < settled; }));
}

TEST_F(GtkEListTest, RowsOutliveTheDestroyedWidgets)
{
    Owned window(gtk_window_new(GTK_WINDOW_TOPLEVEL));
    gtk_container_add(GTK_CONTAINER(window.ptr), list.getWidget());
    list.setSelectedItem(1);
    gtk_widget_destroy(GTK_WIDGET(window.ptr));
    EXPECT_EQ(list.getTreeView(), nullptr);
    EXPECT_EQ(list.add(-1, 0, "late.tri", nullptr), 3);
    list.swap(0, 3);
    list.setSelectedItem(0);
    EXPECT_EQ(list.getSelectedItem(), -1);
    EXPECT_EQ(labelsOf(list), (std::vector<std::string>{"late.tri", "b.off", "c.dat", "a.tri"}));
    EXPECT_EQ(target.numbers, (std::vector<int>{1}));
}

TEST(GtkEList, DeletingTheListTakesItsWidgetOutOfTheWindow)
{
    Owned window(gtk_window_new(GTK_WINDOW_TOPLEVEL));
    Target target;
    auto *list = new GtkEList("Objects");
    list->registerCallback(fastdelegate::MakeDelegate(&target, &Target::number));
    list->add(-1, 0, "a.tri", nullptr);
    gtk_container_add(GTK_CONTAINER(window.ptr), list->getWidget());
    list->setSelectedItem(0);
    delete list;
    EXPECT_EQ(gtk_bin_get_child(GTK_BIN(window.ptr)), nullptr);
    EXPECT_EQ(target.numbers, (std::vector<int>{0}));
}

// ---------------------------------------------------------------------------------------------
// ProgressBar

TEST(ProgressBar, ShowsTheShareOfTheMaximum)
{
    ProgressBar progress("mesh.tri");
    GtkWidget *window = progress.getWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_STREQ(gtk_window_get_title(GTK_WINDOW(window)), "mesh.tri");
    EXPECT_FALSE(gtk_window_get_modal(GTK_WINDOW(window)));
    EXPECT_TRUE(gtk_widget_get_visible(window));
    int width = 0, height = 0;
    gtk_widget_get_size_request(window, &width, nullptr);
    gtk_widget_get_size_request(GTK_WIDGET(progress.getWidget()), nullptr, &height);
    EXPECT_EQ(width, 230);
    EXPECT_EQ(height, 20);

    progress.setMaxValue(200);
    // The percentage is rounded, not cut: 0.6% shows as 1%, 0.2% as 0%.
    const std::vector<std::pair<float, std::pair<double, const char *>>> cases = {
        {50.f, {0.25, "25%"}},  {0.f, {0.0, "0%"}},    {150.f, {0.75, "75%"}},
        {1.2f, {0.006, "1%"}},  {0.4f, {0.002, "0%"}}, {200.f, {1.0, "100%"}},
        {450.f, {1.0, "100%"}}, {-20.f, {0.0, "0%"}},  {NAN, {0.0, "0%"}},
    };
    for (const auto &c : cases) {
        progress.setCurrentValue(c.first);
        EXPECT_NEAR(gtk_progress_bar_get_fraction(progress.getWidget()), c.second.first, 1e-7) << c.first;
        EXPECT_STREQ(gtk_progress_bar_get_text(progress.getWidget()), c.second.second) << c.first;
    }

    // Without a maximum nothing can be shown as done, and nothing divides by zero.
    progress.setMaxValue(0);
    progress.setCurrentValue(10);
    EXPECT_DOUBLE_EQ(gtk_progress_bar_get_fraction(progress.getWidget()), 0.0);
    EXPECT_STREQ(gtk_progress_bar_get_text(progress.getWidget()), "0%");
}

TEST(ProgressBar, TextCanBeLeftOut)
{
    ProgressBar progress("quiet", false);
    progress.setMaxValue(4);
    progress.setCurrentValue(1);
    EXPECT_DOUBLE_EQ(gtk_progress_bar_get_fraction(progress.getWidget()), 0.25);
    EXPECT_EQ(gtk_progress_bar_get_text(progress.getWidget()), nullptr);
}

gboolean markIdle(gpointer flag)
{
    *static_cast<bool *>(flag) = true;
    return FALSE;
}

TEST(ProgressBar, SettingAValueProcessesPendingEvents)
{
    ProgressBar progress("busy");
    progress.setMaxValue(10);
    bool ran = false;
    g_idle_add(&markIdle, &ran);
    progress.setCurrentValue(3);
    EXPECT_TRUE(ran);
}

TEST(ProgressBar, SurvivesTheUserClosingItsWindow)
{
    auto *progress = new ProgressBar("export");
    progress->setMaxValue(100);
    gtk_widget_destroy(progress->getWindow());
    EXPECT_EQ(progress->getWindow(), nullptr);
    EXPECT_EQ(progress->getWidget(), nullptr);
    bool ran = false;
    guint idle = g_idle_add(&markIdle, &ran);
    progress->setCurrentValue(50);
    EXPECT_FALSE(ran) << "a closed bar does nothing, not even the event processing";
    g_source_remove(idle);
    delete progress;
}

TEST(ProgressBar, DeletingItClosesTheWindow)
{
    auto *progress = new ProgressBar("export");
    Watch<GtkWidget> window(progress->getWindow());
    delete progress;
    EXPECT_TRUE(window.gone());
}

// ---------------------------------------------------------------------------------------------
// ColorInterface

struct ColorLog {
    void set(Point4 c) { colors.push_back(c); }
    std::vector<Point4> colors;
};

void expectColor(const Point4 &actual, const Point4 &expected)
{
    const float step = 1.f / 65535.f;
    for (int i = 0; i < 4; ++i)
        EXPECT_NEAR(actual[i], expected[i], step) << "component " << i;
}

TEST(ColorInterface, OpensOnTheStartColourWithoutReportingIt)
{
    ColorLog log;
    ColorInterface *chooser = ColorInterface::factory(fastdelegate::MakeDelegate(&log, &ColorLog::set),
                                                      Point4(0.2f, 0.4f, 0.6f, 0.8f));
    Watch<GtkWidget> dialog(chooser->getDialog());
    EXPECT_STREQ(gtk_window_get_title(GTK_WINDOW(chooser->getDialog())), "select color");
    EXPECT_FALSE(gtk_window_get_modal(GTK_WINDOW(chooser->getDialog())));
    EXPECT_TRUE(gtk_color_selection_get_has_opacity_control(chooser->getColorSelection()));
    expectColor(chooser->getColor(), Point4(0.2f, 0.4f, 0.6f, 0.8f));
    GdkColor shown;
    gtk_color_selection_get_current_color(chooser->getColorSelection(), &shown);
    EXPECT_EQ(shown.green, 26214);
    EXPECT_EQ(gtk_color_selection_get_current_alpha(chooser->getColorSelection()), 52428);
    EXPECT_TRUE(log.colors.empty());
    chooser->close();
    EXPECT_TRUE(dialog.gone());
}

TEST(ColorInterface, EveryChangeReachesTheCallableAtOnce)
{
    ColorLog log;
    ColorInterface *chooser =
        ColorInterface::factory(fastdelegate::MakeDelegate(&log, &ColorLog::set), Point4(0, 0, 0, 1));
    GtkColorSelection *selection = chooser->getColorSelection();

    // What dragging the controls does: one new colour after another.
    for (guint16 red : {10000, 30000, 65535}) {
        GdkColor c = {0, red, 0, 32768};
        gtk_color_selection_set_current_color(selection, &c);
    }
    ASSERT_EQ(log.colors.size(), 3u);
    expectColor(log.colors[0], Point4(10000 / 65535.f, 0, 32768 / 65535.f, 1));
    expectColor(log.colors[2], Point4(1, 0, 32768 / 65535.f, 1));

    gtk_color_selection_set_current_alpha(selection, 0);
    ASSERT_EQ(log.colors.size(), 4u);
    EXPECT_EQ(log.colors[3].w, 0.f);

    // Setting the colour from the program reports it once, out-of-range parts clamped.
    chooser->setColor(Point4(0.5f, 1.5f, -1.f, 0.25f));
    ASSERT_EQ(log.colors.size(), 5u);
    expectColor(log.colors[4], Point4(0.5f, 1.f, 0.f, 0.25f));
    expectColor(chooser->getColor(), log.colors[4]);

    Watch<GtkWidget> dialog(chooser->getDialog());
    gtk_dialog_response(GTK_DIALOG(chooser->getDialog()), GTK_RESPONSE_CLOSE);
    EXPECT_TRUE(dialog.gone());
}

TEST(ColorInterface, ClosingTheWindowEndsTheChooser)
{
    ColorLog log;
    ColorInterface *chooser =
        ColorInterface::factory(fastdelegate::MakeDelegate(&log, &ColorLog::set), Point4(1, 1, 1, 1));
    Watch<GtkWidget> dialog(chooser->getDialog());
    Watch<GtkColorSelection> selection(chooser->getColorSelection());
    gtk_widget_destroy(chooser->getDialog());
    EXPECT_TRUE(dialog.gone());
    EXPECT_TRUE(selection.gone());
    EXPECT_TRUE(log.colors.empty());
}

// ---------------------------------------------------------------------------------------------
// FileDialog and ListDialog

struct Chosen {
    void file(const char *name)
    {
        names.push_back(name);
        dialogGoneWhenCalled.push_back(watched && watched->gone());
    }
    void row(int r) { rows.push_back(r); }
    std::vector<std::string> names;
    std::vector<bool> dialogGoneWhenCalled;
    std::vector<int> rows;
    const Watch<GtkFileChooser> *watched = nullptr;
};

class FileDialogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = testsupport::makeTempDir("filedialog");
        for (const char *name : {"a.tri", "b.dat", "c.off"})
            std::ofstream(dir + "/" + name) << "x";
    }
    // Selects `name` in `dialog`; the chooser reads its folder in the background first.
    void choose(FileDialog *dialog, const char *name)
    {
        gtk_file_chooser_select_filename(dialog->getDialog(), (dir + "/" + name).c_str());
        ASSERT_TRUE(pumpUntil([&] {
            GSList *files = gtk_file_chooser_get_filenames(dialog->getDialog());
            bool any = files != nullptr;
            g_slist_free_full(files, g_free);
            return any;
        }));
    }
    std::string dir;
    Chosen chosen;
};

TEST_F(FileDialogTest, OkClosesTheDialogThenPassesTheName)
{
    auto *dialog = new FileDialog("RGB color file", fastdelegate::MakeDelegate(&chosen, &Chosen::file));
    Watch<GtkFileChooser> watch(dialog->getDialog());
    chosen.watched = &watch;
    EXPECT_STREQ(gtk_window_get_title(GTK_WINDOW(dialog->getDialog())), "RGB color file");
    EXPECT_FALSE(gtk_file_chooser_get_select_multiple(dialog->getDialog()));
    choose(dialog, "b.dat");
    gtk_dialog_response(GTK_DIALOG(watch.ptr), GTK_RESPONSE_ACCEPT);
    EXPECT_EQ(chosen.names, (std::vector<std::string>{dir + "/b.dat"}));
    EXPECT_EQ(chosen.dialogGoneWhenCalled, (std::vector<bool>{true}));
}

TEST_F(FileDialogTest, MultipleSelectionPassesEveryNameInListOrder)
{
    auto *dialog = new FileDialog("open file", fastdelegate::MakeDelegate(&chosen, &Chosen::file), true);
    Watch<GtkFileChooser> watch(dialog->getDialog());
    EXPECT_TRUE(gtk_file_chooser_get_select_multiple(dialog->getDialog()));
    choose(dialog, "c.off");
    gtk_file_chooser_select_all(dialog->getDialog());
    gtk_file_chooser_unselect_filename(dialog->getDialog(), (dir + "/b.dat").c_str());
    gtk_dialog_response(GTK_DIALOG(watch.ptr), GTK_RESPONSE_ACCEPT);
    EXPECT_EQ(chosen.names, (std::vector<std::string>{dir + "/a.tri", dir + "/c.off"}));
    EXPECT_TRUE(watch.gone());
}

TEST_F(FileDialogTest, CancelAndCloseChooseNothing)
{
    auto *cancelled = new FileDialog("open file", fastdelegate::MakeDelegate(&chosen, &Chosen::file));
    Watch<GtkFileChooser> first(cancelled->getDialog());
    choose(cancelled, "a.tri");
    gtk_dialog_response(GTK_DIALOG(first.ptr), GTK_RESPONSE_CANCEL);
    EXPECT_TRUE(first.gone());

    auto *closed = new FileDialog("open file", fastdelegate::MakeDelegate(&chosen, &Chosen::file));
    Watch<GtkFileChooser> second(closed->getDialog());
    gtk_widget_destroy(GTK_WIDGET(second.ptr));
    EXPECT_TRUE(second.gone());

    auto *empty = new FileDialog("open file", fastdelegate::MakeDelegate(&chosen, &Chosen::file), true);
    Watch<GtkFileChooser> third(empty->getDialog());
    empty->setFolder(dir.c_str());
    gtk_dialog_response(GTK_DIALOG(third.ptr), GTK_RESPONSE_ACCEPT);
    if (!third.gone())
        empty->close();
    EXPECT_TRUE(chosen.names.empty());
}

TEST_F(FileDialogTest, APatternLimitsTheFilesShown)
{
    auto *dialog =
        new FileDialog("RGB color file", fastdelegate::FastDelegate1<const char *>(), false, "*.rgb");
    GSList *filters = gtk_file_chooser_list_filters(dialog->getDialog());
    ASSERT_EQ(g_slist_length(filters), 1u);
    EXPECT_STREQ(gtk_file_filter_get_name(GTK_FILE_FILTER(filters->data)), "*.rgb");
    EXPECT_EQ(gtk_file_chooser_get_filter(dialog->getDialog()), GTK_FILE_FILTER(filters->data));
    g_slist_free(filters);
    dialog->close();
}

TEST(ListDialog, SelectingARowPassesItsIndexAndOkCloses)
{
    Chosen chosen;
    auto *dialog = new ListDialog("Select codec", {"none", "mjpeg", "xvid"},
                                  fastdelegate::MakeDelegate(&chosen, &Chosen::row));
    Watch<GtkWidget> watch(dialog->getDialog());
    EXPECT_STREQ(gtk_window_get_title(GTK_WINDOW(watch.ptr)), "Select codec");
    GtkTreeModel *model = gtk_tree_view_get_model(dialog->getList());
    EXPECT_EQ(gtk_tree_model_iter_n_children(model, nullptr), 3);

    GtkTreeSelection *selection = gtk_tree_view_get_selection(dialog->getList());
    for (int row : {2, 0}) {
        GtkTreePath *path = gtk_tree_path_new_from_indices(row, -1);
        gtk_tree_selection_select_path(selection, path);
        gtk_tree_path_free(path);
    }
    EXPECT_EQ(chosen.rows, (std::vector<int>{2, 0}));

    // Closing calls nothing, even with a row still selected.
    gtk_dialog_response(GTK_DIALOG(watch.ptr), GTK_RESPONSE_OK);
    EXPECT_TRUE(watch.gone());
    EXPECT_EQ(chosen.rows, (std::vector<int>{2, 0}));
}

TEST(ListDialog, TheCloseBoxEndsItToo)
{
    Chosen chosen;
    auto *dialog = new ListDialog("Select codec", {}, fastdelegate::MakeDelegate(&chosen, &Chosen::row));
    Watch<GtkWidget> watch(dialog->getDialog());
    GdkEvent *event = gdk_event_new(GDK_DELETE);
    event->any.window = GDK_WINDOW(g_object_ref(gtk_widget_get_window(watch.ptr)));
    gtk_main_do_event(event);
    gdk_event_free(event);
    EXPECT_TRUE(watch.gone());
    EXPECT_TRUE(chosen.rows.empty());
}

} // namespace
