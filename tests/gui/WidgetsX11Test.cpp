#include "gui/ColorInterface.h"
#include "gui/Delegate0.h"
#include "gui/Delegate1.h"
#include "gui/Delegate2.h"
#include "gui/Delegate2Int.h"
#include "gui/FileDialog.h"
#include "gui/GtkEList.h"
#include "gui/ListDialog.h"
#include "gui/ProgressBar.h"

#include "math/Messages.h"
#include "support/ImageCompare.h"

#include <gtest/gtest.h>

#include <gdk/gdkkeysyms.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <tuple>
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

gboolean emitEvent(gpointer widget, const char *signal, GdkEventType type, guint keyval = 0)
{
    GdkEvent *event = gdk_event_new(type);
    if (type == GDK_KEY_PRESS)
        event->key.keyval = keyval;
    gboolean handled = FALSE;
    g_signal_emit_by_name(widget, signal, event, &handled);
    gdk_event_free(event);
    return handled;
}

// ---------------------------------------------------------------------------------------------
// Signal binding

// Records what each bound member received: pointers, numbers and texts in call order.
struct Target {
    virtual ~Target() = default;
    virtual void touched() { texts.push_back("target"); }
    template <class A> void one(A a) { note(a); }
    template <class A, class B> void two(A a, B b)
    {
        note(a);
        note(b);
    }
    void note(gpointer p) { pointers.push_back(p); }
    void note(int v) { numbers.push_back(v); }
    void note(const char *t) { texts.push_back(t ? t : "(null)"); }
    void note(Tracked t) { numbers.push_back(t.value); }
    void note(GdkEvent *e) { numbers.push_back(e->type); }
    void note(GdkEventKey *e) { numbers.push_back(static_cast<int>(e->keyval)); }
    std::vector<gpointer> pointers;
    std::vector<int> numbers;
    std::vector<std::string> texts;
};

struct DerivedTarget : Target {
    void touched() override { texts.push_back("derived"); }
};

using fastdelegate::MakeDelegate;

TEST(SignalBinding, Delegate0CallsTheBoundMemberAndReportsHandledOnlyWhenAsked)
{
    Owned button(gtk_button_new());
    DerivedTarget derived;
    Target *asBase = &derived;
    ASSERT_NE(Delegate0::connect(button.ptr, "clicked", MakeDelegate(asBase, &Target::touched)), 0u);
    gtk_button_clicked(GTK_BUTTON(button.ptr));
    EXPECT_EQ(derived.texts, (std::vector<std::string>{"derived"}));

    Owned plain(gtk_window_new(GTK_WINDOW_TOPLEVEL)), guarded(gtk_window_new(GTK_WINDOW_TOPLEVEL));
    Target target;
    Delegate0::connect(plain.ptr, "delete-event", MakeDelegate(&target, &Target::touched));
    Delegate0::connectTrue(guarded.ptr, "delete-event", MakeDelegate(&target, &Target::touched));
    EXPECT_FALSE(emitEvent(plain.ptr, "delete-event", GDK_DELETE));
    EXPECT_TRUE(emitEvent(guarded.ptr, "delete-event", GDK_DELETE));
    EXPECT_EQ(target.texts.size(), 2u);
}

TEST(SignalBinding, SignalValuesComeFirstAndStoredValuesFillTheRest)
{
    Target t;
    Owned button(gtk_button_new()), second(gtk_button_new()), other(gtk_button_new());
    Delegate1<GtkWidget *>::connect(button.ptr, "clicked", MakeDelegate(&t, &Target::one<GtkWidget *>));
    // A clicked button is no number: the stored value stands in.
    Delegate1<int>::connect(button.ptr, "clicked", MakeDelegate(&t, &Target::one<int>), 7);
    char key[] = "object.add";
    Delegate1<const char *>::connectObject(button.ptr, "clicked",
                                           MakeDelegate(&t, &Target::one<const char *>), key);
    std::strcpy(key, "changed");
    gtk_button_clicked(GTK_BUTTON(button.ptr));
    EXPECT_EQ(t.pointers, (std::vector<gpointer>{button.ptr}));
    EXPECT_EQ(t.numbers, (std::vector<int>{7}));
    EXPECT_EQ(t.texts, (std::vector<std::string>{"object.add"})) << "the record keeps its own copy of a text";

    // Two signal values: widget and event, or dialog and response id.
    t = Target();
    Owned area(gtk_drawing_area_new()), dialog(gtk_dialog_new());
    Delegate2<GtkWidget *, GdkEvent *>::connect(area.ptr, "button-press-event",
                                                MakeDelegate(&t, &Target::two<GtkWidget *, GdkEvent *>));
    EXPECT_FALSE(emitEvent(area.ptr, "button-press-event", GDK_BUTTON_PRESS));
    Delegate2<GtkWidget *, int>::connect(dialog.ptr, "response",
                                         MakeDelegate(&t, &Target::two<GtkWidget *, int>), nullptr, -1);
    gtk_dialog_response(GTK_DIALOG(dialog.ptr), 42);
    // One signal value: the adjustment, then the stored number that tells two spin buttons apart.
    Owned adjustment(gtk_adjustment_new(10, 1, 2048, 1, 10, 0));
    Delegate2<GtkAdjustment *, int>::connect(
        adjustment.ptr, "value-changed", MakeDelegate(&t, &Target::two<GtkAdjustment *, int>), nullptr, 1);
    gtk_adjustment_set_value(GTK_ADJUSTMENT(adjustment.ptr), 300);
    // Stored values only, whatever the signal carries.
    Delegate2<GtkWidget *, int>::connectObject(
        second.ptr, "clicked", MakeDelegate(&t, &Target::two<GtkWidget *, int>), GTK_WIDGET(other.ptr), 5);
    gtk_button_clicked(GTK_BUTTON(second.ptr));
    EXPECT_EQ(t.pointers, (std::vector<gpointer>{area.ptr, dialog.ptr, adjustment.ptr, other.ptr}));
    EXPECT_EQ(t.numbers, (std::vector<int>{GDK_BUTTON_PRESS, 42, 1, 5}));

    // Key events are reported handled.
    t = Target();
    Delegate2Int<GtkWidget *, GdkEventKey *>::connect(
        area.ptr, "key-press-event", MakeDelegate(&t, &Target::two<GtkWidget *, GdkEventKey *>));
    EXPECT_TRUE(emitEvent(area.ptr, "key-press-event", GDK_KEY_PRESS, GDK_KEY_q));
    EXPECT_EQ(t.numbers, (std::vector<int>{GDK_KEY_q}));
}

TEST(SignalBinding, Delegate2RefusesSignalsWithMoreThanTwoValues)
{
    Owned view(gtk_tree_view_new());
    Target t;
    auto call = MakeDelegate(&t, &Target::two<GtkWidget *, int>);
    Delegate2<GtkWidget *, int>::connect(view.ptr, "row-activated", call);
    GtkTreePath *path = gtk_tree_path_new_first();
    CapturingMessageSink said;
    ScopedMessageSink scope(said);
    g_signal_emit_by_name(view.ptr, "row-activated", path, nullptr);
    EXPECT_EQ(said.text(MessageLevel::Error), "SLOT: error in callback with 2 arguments\n");
    EXPECT_TRUE(t.numbers.empty());

    // The stored-value form does not look at the signal's values at all.
    Delegate2<GtkWidget *, int>::connectObject(view.ptr, "row-activated", call, GTK_WIDGET(view.ptr), 2);
    said.clear();
    g_signal_emit_by_name(view.ptr, "row-activated", path, nullptr);
    // The first connection still refuses it.
    EXPECT_EQ(said.text(), "SLOT: error in callback with 2 arguments\n");
    EXPECT_EQ(t.numbers, (std::vector<int>{2}));
    gtk_tree_path_free(path);
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

TEST(SignalBinding, TheConnectionOwnsTheRecord)
{
    Target t;
    auto call = MakeDelegate(&t, &Target::one<Tracked>);
    const int before = Tracked::live;
    Owned button(gtk_button_new());
    gulong id = Delegate1<Tracked>::connectObject(button.ptr, "clicked", call, Tracked(5));
    EXPECT_EQ(Tracked::live, before + 1);
    gtk_button_clicked(GTK_BUTTON(button.ptr));
    EXPECT_EQ(t.numbers, (std::vector<int>{5}));
    g_signal_handler_disconnect(button.ptr, id);
    EXPECT_EQ(Tracked::live, before);

    // A signal the instance does not have: nothing is connected and nothing is kept.
    {
        CapturingMessageSink said;
        ScopedMessageSink scope(said);
        EXPECT_EQ(Delegate1<Tracked>::connectObject(button.ptr, "no-such-signal", call, Tracked(7)), 0u);
        EXPECT_EQ(said.text(MessageLevel::Error), "SLOT: no signal no-such-signal on GtkButton\n");
    }
    EXPECT_EQ(Tracked::live, before);

    // Destroying the widget, even from inside the handler, releases the record once.
    SelfDestroyer destroyer{GTK_WIDGET(button.ptr), {}};
    Delegate1<Tracked>::connectObject(button.ptr, "clicked",
                                      MakeDelegate(&destroyer, &SelfDestroyer::destroy), Tracked(3));
    gtk_button_clicked(GTK_BUTTON(button.ptr));
    gtk_button_clicked(GTK_BUTTON(button.ptr));
    EXPECT_EQ(destroyer.values, (std::vector<int>{3}));
    EXPECT_EQ(Tracked::live, before);
}

// ---------------------------------------------------------------------------------------------
// GtkEList

using Labels = std::vector<std::string>;

class GtkEListTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        list.registerCallback(MakeDelegate(&selected, &Target::one<int>));
        for (int i = 0; i < 3; ++i)
            list.add(-1, names[i], &items[i]);
    }
    Labels labels() const
    {
        Labels out;
        for (int i = 0; i < list.getNumberOfItems(); ++i)
            out.push_back(list.getItemLabel(i));
        return out;
    }
    // The row the list widget itself shows selected.
    int shownSelected() const
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
    GtkEList list{"Objects"};
    Target selected;
    int items[5] = {0, 1, 2, 3, 4};
    const char *names[5] = {"a.tri", "b.off", "c.dat", "d.oct", "e.png"};
};

TEST_F(GtkEListTest, AddAppendsOrInsertsUnderOneTitledColumn)
{
    GtkTreeView *view = list.getTreeView();
    EXPECT_STREQ(gtk_tree_view_column_get_title(gtk_tree_view_get_column(view, 0)), "Objects");
    EXPECT_EQ(gtk_tree_view_get_column(view, 1), nullptr);

    EXPECT_EQ(list.add(1, names[3], &items[3]), 1);
    EXPECT_EQ(list.add(99, names[4], &items[4]), 4);
    EXPECT_EQ(list.add(0, nullptr, nullptr), 0);
    EXPECT_EQ(labels(), (Labels{"", "a.tri", "d.oct", "b.off", "c.dat", "e.png"}));
    EXPECT_EQ(list.getNumberOfItems(), 6);
    EXPECT_EQ(list.getItemData(2), &items[3]);
    EXPECT_EQ(list.getItemData(5), &items[4]);
    EXPECT_EQ(list.getItemData(6), nullptr);
    EXPECT_EQ(list.getItemData(-1), nullptr);

    list.setSelectedItem(1);
    list.add(0, "first.tri", nullptr);
    EXPECT_EQ(list.getSelectedItem(), 2);
    EXPECT_EQ(selected.numbers, (std::vector<int>{1})) << "adding rows selects nothing";
}

TEST_F(GtkEListTest, TheIconFollowsTheExtension)
{
    GdkPixbuf *camera = GtkEList::camera_pixmap, *object = GtkEList::object_pixmap;
    ASSERT_TRUE(camera && object && camera != object);
    EXPECT_EQ(gdk_pixbuf_get_width(camera), 16);

    list.remove(-1);
    const std::vector<std::pair<const char *, GdkPixbuf *>> cases = {
        {"param.dat", camera}, {"scan.tri.dat", camera}, {"mesh.tri", object},      {"PARAM.DAT", object},
        {"x.data", object},    {"dat", object},          {"param.dat.off", object}, {"trailing.", object},
    };
    for (const auto &c : cases)
        list.add(-1, c.first, nullptr);
    for (size_t i = 0; i < cases.size(); ++i)
        EXPECT_EQ(list.getItemPixmap(static_cast<int>(i)), cases[i].second) << cases[i].first;
    EXPECT_EQ(GtkEList::getPixmapByType(nullptr), object);
}

TEST_F(GtkEListTest, SelectionRunsTheCallbackOncePerNewRow)
{
    list.setSelectedItem(1);
    EXPECT_EQ(shownSelected(), 1);
    GtkTreePath *path = gtk_tree_path_new_from_indices(2, -1);
    gtk_tree_selection_select_path(gtk_tree_view_get_selection(list.getTreeView()), path); // as a click would
    gtk_tree_path_free(path);
    list.setSelectedItem(2); // asked again, the selected row is acted on again
    list.setSelectedItem(3);
    list.setSelectedItem(-1);
    EXPECT_EQ(selected.numbers, (std::vector<int>{1, 2, 2}));
    EXPECT_EQ(list.getSelectedItem(), 2);

    gtk_tree_selection_unselect_all(gtk_tree_view_get_selection(list.getTreeView()));
    EXPECT_EQ(list.getSelectedItem(), -1);
    EXPECT_EQ(selected.numbers.size(), 3u) << "unselecting calls nothing";
}

TEST_F(GtkEListTest, RemoveKeepsTheSelectionOnItsRow)
{
    list.add(-1, names[3], &items[3]);
    list.setSelectedItem(2);
    list.remove(0);
    EXPECT_EQ(list.getSelectedItem(), 1);
    EXPECT_EQ(list.getItemData(1), &items[2]);
    list.remove(3);
    list.remove(17);
    EXPECT_EQ(labels(), (Labels{"b.off", "c.dat", "d.oct"}));

    list.remove(1);
    EXPECT_EQ(list.getSelectedItem(), -1);
    EXPECT_EQ(labels(), (Labels{"b.off", "d.oct"}));
    list.setSelectedItem(0);
    list.remove(-1);
    EXPECT_EQ(list.getNumberOfItems(), 0);
    EXPECT_EQ(list.getSelectedItem(), -1);
    EXPECT_EQ(selected.numbers, (std::vector<int>{2, 0})) << "removing rows selects nothing";
}

TEST_F(GtkEListTest, SwapMovesTheSelectionWithItsRow)
{
    list.setSelectedItem(0);
    list.swap(0, 2);
    EXPECT_EQ(labels(), (Labels{"c.dat", "b.off", "a.tri"}));
    EXPECT_EQ(list.getItemPixmap(0), GtkEList::camera_pixmap);
    EXPECT_EQ(list.getSelectedItem(), 2);
    EXPECT_EQ(shownSelected(), 2);
    list.swap(1, 2);
    list.swap(0, 2);
    EXPECT_EQ(list.getSelectedItem(), 1);
    EXPECT_EQ(list.getItemData(1), &items[0]);

    const Labels before = labels();
    for (auto [a, b] : {std::pair{0, 3}, {-1, 1}, {3, 7}, {1, 1}})
        list.swap(a, b);
    EXPECT_EQ(labels(), before);
    EXPECT_EQ(list.getSelectedItem(), 1);
    EXPECT_EQ(selected.numbers, (std::vector<int>{0})) << "swapping selects nothing";
}

TEST_F(GtkEListTest, ASelectedRowIsScrolledIntoView)
{
    for (int i = 3; i < 60; ++i)
        list.add(-1, "row.tri", nullptr);
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
    EXPECT_TRUE(pumpUntil([&] { return shows(1); }));
}

TEST_F(GtkEListTest, RowsOutliveTheDestroyedWidgetsAndTheListItsWindow)
{
    Owned window(gtk_window_new(GTK_WINDOW_TOPLEVEL));
    gtk_container_add(GTK_CONTAINER(window.ptr), list.getWidget());
    list.setSelectedItem(1);
    gtk_widget_destroy(GTK_WIDGET(window.ptr));
    EXPECT_EQ(list.getTreeView(), nullptr);
    EXPECT_EQ(list.add(-1, "late.tri", nullptr), 3);
    list.swap(0, 3);
    list.setSelectedItem(0);
    EXPECT_EQ(labels(), (Labels{"late.tri", "b.off", "c.dat", "a.tri"}));
    EXPECT_EQ(selected.numbers, (std::vector<int>{1}));

    Owned other(gtk_window_new(GTK_WINDOW_TOPLEVEL));
    auto *second = new GtkEList("Objects");
    gtk_container_add(GTK_CONTAINER(other.ptr), second->getWidget());
    delete second;
    EXPECT_EQ(gtk_bin_get_child(GTK_BIN(other.ptr)), nullptr);
}

// ---------------------------------------------------------------------------------------------
// ProgressBar

gboolean markIdle(gpointer flag)
{
    *static_cast<bool *>(flag) = true;
    return FALSE;
}

TEST(ProgressBar, ShowsTheShareOfTheMaximumAndKeepsTheWindowsAlive)
{
    ProgressBar progress("mesh.tri");
    GtkWidget *window = progress.getWindow();
    int width = 0, height = 0;
    gtk_widget_get_size_request(window, &width, nullptr);
    gtk_widget_get_size_request(GTK_WIDGET(progress.getWidget()), nullptr, &height);
    EXPECT_EQ(width, 230);
    EXPECT_EQ(height, 20);

    progress.setMaxValue(200);
    // The percentage is rounded, not cut: 0.6% shows as 1%, 0.2% as 0%.
    const std::vector<std::tuple<float, double, const char *>> cases = {
        {50.f, 0.25, "25%"},  {150.f, 0.75, "75%"}, {1.2f, 0.006, "1%"}, {0.4f, 0.002, "0%"},
        {450.f, 1.0, "100%"}, {-20.f, 0.0, "0%"},   {NAN, 0.0, "0%"},
    };
    for (const auto &[value, fraction, text] : cases) {
        progress.setCurrentValue(value);
        EXPECT_NEAR(gtk_progress_bar_get_fraction(progress.getWidget()), fraction, 1e-7) << value;
        EXPECT_STREQ(gtk_progress_bar_get_text(progress.getWidget()), text) << value;
    }
    // Without a maximum nothing can be shown as done, and nothing divides by zero.
    progress.setMaxValue(0);
    progress.setCurrentValue(10);
    EXPECT_STREQ(gtk_progress_bar_get_text(progress.getWidget()), "0%");

    bool ran = false;
    g_idle_add(&markIdle, &ran);
    progress.setCurrentValue(3);
    EXPECT_TRUE(ran) << "pending events are processed";

    ProgressBar quiet("quiet", false);
    quiet.setCurrentValue(0.5f);
    EXPECT_EQ(gtk_progress_bar_get_fraction(quiet.getWidget()), 0.5);
    EXPECT_EQ(gtk_progress_bar_get_text(quiet.getWidget()), nullptr);
}

TEST(ProgressBar, SurvivesTheUserClosingItsWindow)
{
    auto *progress = new ProgressBar("export");
    gtk_widget_destroy(progress->getWindow());
    EXPECT_EQ(progress->getWidget(), nullptr);
    bool ran = false;
    guint idle = g_idle_add(&markIdle, &ran);
    progress->setCurrentValue(50);
    EXPECT_FALSE(ran) << "a closed bar does nothing, not even the event processing";
    g_source_remove(idle);
    delete progress;

    progress = new ProgressBar("export");
    Watch<GtkWidget> window(progress->getWindow());
    delete progress;
    EXPECT_TRUE(window.gone()) << "deleting the bar closes its window";
}

// ---------------------------------------------------------------------------------------------
// ColorInterface

struct ColorLog {
    void set(Point4 c) { colors.push_back(c); }
    std::vector<Point4> colors;
};

void expectColor(const Point4 &actual, const Point4 &expected)
{
    for (int i = 0; i < 4; ++i)
        EXPECT_NEAR(actual[i], expected[i], 1.f / 65535.f) << "component " << i;
}

TEST(ColorInterface, OpensOnTheStartColourAndEndsWithItsWindow)
{
    ColorLog log;
    ColorInterface *chooser =
        ColorInterface::factory(MakeDelegate(&log, &ColorLog::set), Point4(0.2f, 0.4f, 0.6f, 0.8f));
    Watch<GtkWidget> dialog(chooser->getDialog());
    Watch<GtkColorSelection> selection(chooser->getColorSelection());
    EXPECT_TRUE(gtk_color_selection_get_has_opacity_control(selection.ptr));
    GdkColor shown;
    gtk_color_selection_get_current_color(selection.ptr, &shown);
    EXPECT_EQ(shown.green, 26214);
    EXPECT_EQ(gtk_color_selection_get_current_alpha(selection.ptr), 52428);
    expectColor(chooser->getColor(), Point4(0.2f, 0.4f, 0.6f, 0.8f));
    EXPECT_TRUE(log.colors.empty()) << "opening reports nothing";

    gtk_widget_destroy(dialog.ptr);
    EXPECT_TRUE(dialog.gone());
    EXPECT_TRUE(selection.gone());
}

TEST(ColorInterface, EveryChangeReachesTheCallableAtOnce)
{
    ColorLog log;
    ColorInterface *chooser = ColorInterface::factory(MakeDelegate(&log, &ColorLog::set), Point4(0, 0, 0, 1));
    GtkColorSelection *selection = chooser->getColorSelection();
    // What dragging the controls does: one new colour after another.
    for (guint16 red : {10000, 30000, 65535}) {
        GdkColor c = {0, red, 0, 32768};
        gtk_color_selection_set_current_color(selection, &c);
    }
    gtk_color_selection_set_current_alpha(selection, 0);
    ASSERT_EQ(log.colors.size(), 4u);
    expectColor(log.colors[0], Point4(10000 / 65535.f, 0, 32768 / 65535.f, 1));
    expectColor(log.colors[3], Point4(1, 0, 32768 / 65535.f, 0));

    // Setting the colour from the program reports it once, out-of-range parts clamped.
    chooser->setColor(Point4(0.5f, 1.5f, -1.f, 0.25f));
    ASSERT_EQ(log.colors.size(), 5u);
    expectColor(log.colors[4], Point4(0.5f, 1.f, 0.f, 0.25f));

    Watch<GtkWidget> dialog(chooser->getDialog());
    gtk_dialog_response(GTK_DIALOG(dialog.ptr), GTK_RESPONSE_CLOSE);
    EXPECT_TRUE(dialog.gone());
}

// ---------------------------------------------------------------------------------------------
// FileDialog and ListDialog

struct Chosen {
    void file(const char *name)
    {
        names.push_back(name);
        dialogGoneWhenCalled = watched && watched->gone();
    }
    void row(int r) { rows.push_back(r); }
    std::vector<std::string> names;
    std::vector<int> rows;
    const Watch<GtkFileChooser> *watched = nullptr;
    bool dialogGoneWhenCalled = false;
};

class FileDialogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = testsupport::makeTempDir("filedialog");
        for (const char *name : {"a.tri", "b.dat", "c.off"})
            std::ofstream(dir + "/" + name) << "x";
    }
    // Opens a dialog with `name` selected; the chooser reads its folder in the background first.
    FileDialog *open(bool multiple, const char *name)
    {
        auto *dialog = new FileDialog("open file", MakeDelegate(&chosen, &Chosen::file), multiple);
        gtk_file_chooser_select_filename(dialog->getDialog(), (dir + "/" + name).c_str());
        EXPECT_TRUE(pumpUntil([&] {
            GSList *files = gtk_file_chooser_get_filenames(dialog->getDialog());
            bool any = files != nullptr;
            g_slist_free_full(files, g_free);
            return any;
        }));
        return dialog;
    }
    std::string dir;
    Chosen chosen;
};

TEST_F(FileDialogTest, OkClosesTheDialogThenPassesTheName)
{
    FileDialog *dialog = open(false, "b.dat");
    Watch<GtkFileChooser> watch(dialog->getDialog());
    chosen.watched = &watch;
    gtk_dialog_response(GTK_DIALOG(watch.ptr), GTK_RESPONSE_ACCEPT);
    EXPECT_EQ(chosen.names, (Labels{dir + "/b.dat"}));
    EXPECT_TRUE(chosen.dialogGoneWhenCalled);
}

TEST_F(FileDialogTest, MultipleSelectionPassesEveryNameInTheOrderPicked)
{
    FileDialog *dialog = open(true, "c.off");
    Watch<GtkFileChooser> watch(dialog->getDialog());
    gtk_file_chooser_select_all(watch.ptr);
    gtk_file_chooser_unselect_filename(watch.ptr, (dir + "/b.dat").c_str());
    gtk_dialog_response(GTK_DIALOG(watch.ptr), GTK_RESPONSE_ACCEPT);
    EXPECT_EQ(chosen.names, (Labels{dir + "/c.off", dir + "/a.tri"}));
    EXPECT_TRUE(watch.gone());
}

// The names of files to write: a Save chooser that asks before replacing a file.
TEST_F(FileDialogTest, SaveChoosersHaveANameFieldAndConfirmOverwriting)
{
    FileDialog *dialog = FileDialog::saveAs("avi filename", MakeDelegate(&chosen, &Chosen::file), "*.avi");
    Watch<GtkFileChooser> watch(dialog->getDialog());
    EXPECT_EQ(gtk_file_chooser_get_action(watch.ptr), GTK_FILE_CHOOSER_ACTION_SAVE);
    EXPECT_TRUE(gtk_file_chooser_get_do_overwrite_confirmation(watch.ptr));
    dialog->setFolder(dir.c_str());
    gtk_file_chooser_set_current_name(watch.ptr, "new.avi");
    ASSERT_TRUE(pumpUntil([&] {
        gchar *name = gtk_file_chooser_get_filename(watch.ptr);
        const bool there = name && std::string(name) == dir + "/new.avi";
        g_free(name);
        return there;
    }));
    gtk_dialog_response(GTK_DIALOG(watch.ptr), GTK_RESPONSE_ACCEPT);
    // The chooser looks the name up before it answers.
    EXPECT_TRUE(pumpUntil([&] { return watch.gone(); }));
    EXPECT_EQ(chosen.names, (Labels{dir + "/new.avi"}));
}

// The chooser's list of files: of its tree views, the one with more than one column (the
// places beside it have one).
void findFileList(GtkWidget *widget, gpointer found)
{
    auto *list = static_cast<GtkTreeView **>(found);
    if (GTK_IS_TREE_VIEW(widget)) {
        GList *columns = gtk_tree_view_get_columns(GTK_TREE_VIEW(widget));
        if (g_list_length(columns) > 1)
            *list = GTK_TREE_VIEW(widget);
        g_list_free(columns);
    } else if (GTK_IS_CONTAINER(widget)) {
        gtk_container_forall(GTK_CONTAINER(widget), findFileList, found);
    }
}

// The toolkit keeps the chooser's last location mode in the user's settings: after Ctrl+L it
// opens on an empty location entry. A file the user then picks in the list is still opened.
TEST_F(FileDialogTest, AFilePickedInTheListIsOpenedWhenTheChooserOpensOnTheLocationEntry)
{
    const std::string folder = std::string(g_get_user_config_dir()) + "/gtk-2.0";
    const std::string ini = folder + "/gtkfilechooser.ini";
    gchar *saved = nullptr;
    const bool hadSettings = g_file_get_contents(ini.c_str(), &saved, nullptr, nullptr);
    g_mkdir_with_parents(folder.c_str(), 0700);
    std::ofstream(ini) << "[Filechooser Settings]\nLocationMode=filename-entry\n";
    auto *dialog = new FileDialog("open file", MakeDelegate(&chosen, &Chosen::file), false);
    // The chooser reads the settings when it is made; the user's own file is put back at once.
    if (hadSettings)
        g_file_set_contents(ini.c_str(), saved, -1, nullptr);
    else
        std::remove(ini.c_str());
    g_free(saved);

    dialog->setFolder(dir.c_str());
    Watch<GtkFileChooser> watch(dialog->getDialog());
    GtkWindow *window = GTK_WINDOW(watch.ptr);
    GtkTreeView *list = nullptr;
    findFileList(GTK_WIDGET(window), &list);
    ASSERT_NE(list, nullptr);
    // The user sees the folder listed, the focus in the location entry...
    ASSERT_TRUE(pumpUntil([&] {
        GtkTreeModel *files = gtk_tree_view_get_model(list);
        return files && gtk_tree_model_iter_n_children(files, nullptr) == 3 &&
               GTK_IS_ENTRY(gtk_window_get_focus(window));
    })) << "the chooser opens on its location entry";
    pumpEvents();
    // ... and clicks a file of the list: the list takes the focus and selects the file.
    gtk_widget_grab_focus(GTK_WIDGET(list));
    gtk_file_chooser_select_filename(watch.ptr, (dir + "/b.dat").c_str());
    EXPECT_TRUE(pumpUntil([&] {
        GSList *files = gtk_file_chooser_get_filenames(watch.ptr);
        const bool any = files != nullptr;
        g_slist_free_full(files, g_free);
        return any;
    }));
    gtk_dialog_response(GTK_DIALOG(window), GTK_RESPONSE_ACCEPT);
    EXPECT_EQ(chosen.names, (Labels{dir + "/b.dat"}));
    EXPECT_TRUE(watch.gone());
    if (!watch.gone())
        dialog->close();
}

TEST_F(FileDialogTest, CancelCloseOrNoFileChooseNothing)
{
    Watch<GtkFileChooser> cancelled(open(false, "a.tri")->getDialog());
    gtk_dialog_response(GTK_DIALOG(cancelled.ptr), GTK_RESPONSE_CANCEL);
    EXPECT_TRUE(cancelled.gone());

    auto *empty = new FileDialog("RGB color file", MakeDelegate(&chosen, &Chosen::file), true, "*.rgb");
    GtkFileFilter *filter = gtk_file_chooser_get_filter(empty->getDialog());
    ASSERT_NE(filter, nullptr);
    EXPECT_STREQ(gtk_file_filter_get_name(filter), "*.rgb");
    Watch<GtkFileChooser> third(empty->getDialog());
    empty->setFolder(dir.c_str());
    gtk_dialog_response(GTK_DIALOG(third.ptr), GTK_RESPONSE_ACCEPT);
    if (!third.gone()) // the chooser may keep itself open when nothing is chosen
        empty->close();
    EXPECT_TRUE(chosen.names.empty());
}

TEST_F(FileDialogTest, OpenFileFiltersOfferTheViewersAndOtherProgramsFormats)
{
    FileDialog *dialog = open(true, "a.tri");
    Watch<GtkFileChooser> watch(dialog->getDialog());
    FileDialog::addModelFilters(watch.ptr);
    EXPECT_STREQ(gtk_file_filter_get_name(gtk_file_chooser_get_filter(watch.ptr)), "All files");
    GSList *filters = gtk_file_chooser_list_filters(watch.ptr);
    std::vector<GtkFileFilter *> list;
    for (GSList *f = filters; f; f = f->next)
        list.push_back(static_cast<GtkFileFilter *>(f->data));
    g_slist_free(filters);
    ASSERT_EQ(list.size(), 3u);
    const auto shows = [](GtkFileFilter *filter, const char *name) {
        GtkFileFilterInfo info = {};
        info.contains = GTK_FILE_FILTER_DISPLAY_NAME;
        info.display_name = name;
        return gtk_file_filter_filter(filter, &info) != FALSE;
    };
    EXPECT_TRUE(shows(list[1], "mesh.tri"));
    EXPECT_TRUE(shows(list[1], "cloud.bin"));
    EXPECT_FALSE(shows(list[1], "scan.ply"));
    for (const char *name : {"scan.ply", "SCAN.PLY", "textured.obj", "part.stl", "model.gltf", "model.glb"})
        EXPECT_TRUE(shows(list[2], name)) << name;
    EXPECT_FALSE(shows(list[2], "mesh.tri"));
    EXPECT_FALSE(shows(list[2], "mesh.off"));
    dialog->close();
}

TEST(ListDialog, SelectingARowPassesItsIndexAndClosingEndsIt)
{
    Chosen chosen;
    auto *dialog =
        new ListDialog("Select codec", {"none", "mjpeg", "xvid"}, MakeDelegate(&chosen, &Chosen::row));
    Watch<GtkWidget> watch(dialog->getDialog());
    EXPECT_EQ(gtk_tree_model_iter_n_children(gtk_tree_view_get_model(dialog->getList()), nullptr), 3);
    for (int row : {2, 0}) {
        GtkTreePath *path = gtk_tree_path_new_from_indices(row, -1);
        gtk_tree_selection_select_path(gtk_tree_view_get_selection(dialog->getList()), path);
        gtk_tree_path_free(path);
    }
    gtk_dialog_response(GTK_DIALOG(watch.ptr), GTK_RESPONSE_OK);
    EXPECT_TRUE(watch.gone());
    EXPECT_EQ(chosen.rows, (std::vector<int>{2, 0}));

    // The window's close box.
    dialog = new ListDialog("Select codec", {}, MakeDelegate(&chosen, &Chosen::row));
    Watch<GtkWidget> second(dialog->getDialog());
    GdkEvent *event = gdk_event_new(GDK_DELETE);
    event->any.window = GDK_WINDOW(g_object_ref(gtk_widget_get_window(second.ptr)));
    gtk_main_do_event(event);
    gdk_event_free(event);
    EXPECT_TRUE(second.gone());
}

} // namespace
