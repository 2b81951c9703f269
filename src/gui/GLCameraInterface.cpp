#include "gui/GLCameraInterface.h"

#include "app/GLMachine.h"
#include "camera/AlignedViews.h"
#include "camera/GLCamera.h"
#include "camera/GLCameraAnimationImpl.h"
#include "gui/FileDialog.h"
#include "gui/MainInterface.h"
#include "gui/ViewsWindow.h"
#include "gui/cameraAnimationInterface.h"

#include <gdk/gdkkeysyms.h>

#include "math/Messages.h"

#include <cmath>
#include <exception>
#include <vector>

namespace {

GLCamera *cam(GLObject *e) { return static_cast<GLCamera *>(static_cast<GLView *>(e)); }
bool showsImages(GLObject *e) { return cam(e)->getShowImages(); }
bool showsSilhouettes(GLObject *e) { return cam(e)->getShowSilhouettes(); }
bool isTransparent(GLObject *e) { return cam(e)->getTransparency(); }
bool pansAround(GLObject *e) { return cam(e)->getPanAround(); }
bool showsOrigins(GLObject *e) { return (cam(e)->getOptions() & GLCamera::CAMERA_ORIGINS) != 0; }
bool showsTrajectory(GLObject *e) { return (cam(e)->getOptions() & GLCamera::CAMERA_TRAJECTORY) != 0; }
bool showsTurntable(GLObject *e) { return (cam(e)->getOptions() & GLCamera::CIRCULAR_MOTION) != 0; }
bool showsTangents(GLObject *e) { return (cam(e)->getOptions() & GLCamera::EPIPOLAR_TANGENCIES) != 0; }
bool showsFlatPhotograph(GLObject *e) { return (cam(e)->getOptions() & GLCamera::TEXTURE_2D) != 0; }

} // namespace

GLCameraInterface::GLCameraInterface(GLCamera *c) : ElementPanel(c, "Camera"), camera(c), projection()
{
    using A = GLCamera::Action;
    addMenuItem("Camera Animation", "animation", [this] { openAnimation(); });
    addMenuItem(
        rowOf(A::LOAD_STATE).label, "loadcamera", [this] { camera->perform(A::LOAD_STATE); }, GDK_space);
    addMenuItem(
        rowOf(A::SAVE_STATE).label, "savecamera", [this] { camera->perform(A::SAVE_STATE); }, GDK_asterisk);
    addMenuItem(rowOf(A::VIEWS).label, "views", [this] { openViews(); }, GDK_V);
    addMenuItem("Align to...", "align", [this] {
        FileDialog *chooser = new FileDialog(
            "Align to reference cameras", fastdelegate::MakeDelegate(this, &GLCameraInterface::onReferenceChosen));
        adoptDialog(GTK_WIDGET(chooser->getDialog()));
    });
    GtkWidget *advanced = addSubmenu("Advanced options");
    const auto toggle = [this](unsigned bit) { return [this, bit] { camera->toggleOption(bit); }; };
    addCheckMenuItem("Discrete Cameras", "corigin", showsOrigins, toggle(GLCamera::CAMERA_ORIGINS), advanced);
    addCheckMenuItem("Camera Trajectory", "ctrajectory", showsTrajectory, toggle(GLCamera::CAMERA_TRAJECTORY),
                     advanced);
    // The photograph overlays have no key of their own: they are reached here.
    addCheckMenuItem("Turntable Lines", "cmotion", showsTurntable, toggle(GLCamera::CIRCULAR_MOTION),
                     advanced);
    addCheckMenuItem("Epipolar Tangents", "etangencies", showsTangents, toggle(GLCamera::EPIPOLAR_TANGENCIES),
                     advanced);
    addCheckMenuItem("Photograph in the Window (2D)", "2dtexture", showsFlatPhotograph,
                     toggle(GLCamera::TEXTURE_2D), advanced);

    GtkWidget *axes = addFrame("viewing axes", nullptr, false);
    for (A along : {A::LOOK_ALONG_X, A::LOOK_ALONG_Y, A::LOOK_ALONG_Z})
        addActionButton(axes, along, true);

    GtkWidget *reset = gtk_button_new_with_label("Reset camera");
    g_signal_connect(reset, "clicked", G_CALLBACK(onReset), this);
    gtk_box_pack_start(GTK_BOX(box), reset, FALSE, FALSE, 2);

    GtkWidget *modes = addFrame("projection mode", nullptr, false);
    const char *labels[2] = {"perspective", "orthogonal"};
    for (int i = 0; i < 2; ++i) {
        projection[i] = i == 0 ? gtk_radio_button_new_with_label(nullptr, labels[i])
                               : gtk_radio_button_new_with_label_from_widget(GTK_RADIO_BUTTON(projection[0]), labels[i]);
        gtk_box_pack_start(GTK_BOX(modes), projection[i], TRUE, TRUE, 1);
    }
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(projection[camera->getProjectionMode() == 0 ? 0 : 1]), TRUE);
    for (GtkWidget *radio : projection)
        g_signal_connect(radio, "toggled", G_CALLBACK(onProjection), this);

    GtkWidget *views = addFrame("original views", nullptr, false);
    // The left arrow steps as the Left key does: to the next view.
    addArrowButton(views, GTK_ARROW_LEFT, rowOf(A::NEXT_VIEW));
    addArrowButton(views, GTK_ARROW_RIGHT, rowOf(A::PREVIOUS_VIEW));

    GtkWidget *toggles = addFrame(nullptr);
    addActionToggle(toggles, rowOf(A::IMAGES), showsImages);
    addActionToggle(toggles, rowOf(A::SILHOUETTES), showsSilhouettes);
    addActionToggle(toggles, rowOf(A::TRANSPARENCY), isTransparent);
    addActionToggle(toggles, rowOf(A::PAN_AROUND), pansAround);
    if (camera->getTracks().hasKeypoints())
        addKeypointFrame();
    // The number of views and where they came from: a camera file, or the format of the
    // program whose output was imported.
    addInformationFrame();
}

void GLCameraInterface::addKeypointFrame()
{
    // A reconstruction's view shown over its photograph draws its keypoints; the factor
    // magnifies the lines to where their points reproject.
    GtkWidget *frame = addFrame("keypoints", nullptr, true);
    GtkWidget *shown = gtk_check_button_new_with_label("show keypoints");
    gtk_widget_set_name(shown, "show keypoints");
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(shown), camera->getTracks().getKeypointsShown());
    g_signal_connect(shown, "toggled", G_CALLBACK(+[](GtkToggleButton *b, gpointer data) {
                         auto *self = static_cast<GLCameraInterface *>(data);
                         self->camera->getTracks().setKeypointsShown(gtk_toggle_button_get_active(b));
                         self->redraw();
                     }), this);
    gtk_box_pack_start(GTK_BOX(frame), shown, FALSE, FALSE, 2);
    GtkWidget *row = gtk_hbox_new(FALSE, 4);
    gtk_box_pack_start(GTK_BOX(row), gtk_label_new("residual factor"), FALSE, FALSE, 2);
    GtkWidget *factor = gtk_spin_button_new_with_range(0, 1000, 1);
    gtk_widget_set_name(factor, "residual factor");
    gtk_spin_button_set_value(GTK_SPIN_BUTTON(factor), camera->getTracks().getResidualFactor());
    g_signal_connect(factor, "value_changed", G_CALLBACK(+[](GtkSpinButton *b, gpointer data) {
                         auto *self = static_cast<GLCameraInterface *>(data);
                         self->camera->getTracks().setResidualFactor(static_cast<float>(gtk_spin_button_get_value(b)));
                         self->redraw();
                     }), this);
    gtk_box_pack_end(GTK_BOX(row), factor, FALSE, FALSE, 2);
    gtk_box_pack_start(GTK_BOX(frame), row, FALSE, FALSE, 2);
}

void GLCameraInterface::update()
{
    ElementPanel::update();
    updating = true;
    GtkWidget *shown = projection[camera->getProjectionMode() == 0 ? 0 : 1];
    if (shown && !gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(shown)))
        gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(shown), TRUE);
    updating = false;
}

void GLCameraInterface::openAnimation()
{
    camera->setAnimationInterface(true);
    if (auto *animation = dynamic_cast<GLCameraAnimationImpl *>(camera->getAnimation())) {
        // Asked again while it is open: the window comes to the front.
        if (auto *window = dynamic_cast<cameraAnimationInterface *>(animation->getWindow()))
            window->present();
        return;
    }
    // No flight editor could be made (the camera has no host that opens its window): say so rather than
    // do nothing.
    GtkWidget *note = gtk_message_dialog_new(nullptr, static_cast<GtkDialogFlags>(0), GTK_MESSAGE_INFO,
                                             GTK_BUTTONS_OK, "The camera flight editor is not available.");
    gtk_window_set_title(GTK_WINDOW(note), "Camera Animation");
    g_signal_connect(note, "response", G_CALLBACK(gtk_widget_destroy), nullptr);
    gtk_widget_show_all(note);
    adoptDialog(note);
}

void GLCameraInterface::onProjection(GtkToggleButton *button, gpointer data)
{
    GLCameraInterface *self = static_cast<GLCameraInterface *>(data);
    // The pair reports twice a change; the key flips the mode, so it is sent for the button
    // turned on, and only when that is not already the camera's mode.
    if (self->updating || !gtk_toggle_button_get_active(button))
        return;
    const int wanted = GTK_WIDGET(button) == self->projection[0] ? 0 : 1;
    if ((self->camera->getProjectionMode() == 0 ? 0 : 1) != wanted)
        self->sendAction(GLCamera::Action::PROJECTION);
}

void GLCameraInterface::onReset(GtkButton *, gpointer data)
{
    GLCameraInterface *self = static_cast<GLCameraInterface *>(data);
    // The scene manager's reset, as the key i: the planes are put around the scene again.
    auto *window = dynamic_cast<MainInterface *>(self->getParent());
    if (window && window->getMachine() && window->getMachine()->getCurrentCamera() == self->camera) {
        window->getMachine()->resetCamera();
        return;
    }
    self->makeViewCurrent();
    self->camera->reset();
    self->redraw();
}

ViewsWindow *GLCameraInterface::openViews()
{
    auto *window = dynamic_cast<MainInterface *>(getParent());
    if (!window || !window->getMachine())
        return nullptr;
    // Asked again while it is open: the window comes to the front and measures again, for
    // the scene may have changed since (a texture, a moved mesh, another background).
    if (GtkWidget *open = getOpenDialog("Views")) {
        gtk_window_present(GTK_WINDOW(open));
        auto *views = static_cast<ViewsWindow *>(g_object_get_data(G_OBJECT(open), "views"));
        if (views && !views->isEvaluating())
            views->evaluate();
        return views;
    }
    ViewsWindow *views = new ViewsWindow(window->getMachine(), window);
    g_object_set_data(G_OBJECT(views->getWindow()), "views", views);
    adoptDialog(views->getWindow());
    views->evaluate();
    return views;
}

bool GLCameraInterface::alignTo(const std::string &path)
{
    CameraPoses reference;
    try {
        reference = readCameraPoses(path);
    } catch (const std::exception &e) {
        msg::error("Align to: %s\n", e.what());
        return false;
    }
    const CameraPoses views = posesOfViews(*camera);
    const CameraAlignment a = alignCameraPoses(reference, views);
    if (!a.ok()) {
        msg::error("Align to %s: %s\n", path.c_str(), a.refusal().c_str());
        return false;
    }
    msg::note("Align to %s (%s, %zu views): %zu of the camera's %zu views matched by %s, %d used in the fit\n",
              path.c_str(), reference.format.c_str(), reference.views.size(), a.match.pairs.size(),
              views.views.size(), a.match.byName ? "name" : "index", a.fit.usedCount);
    msg::note("%s", describeAlignment(a, reference).c_str());

    makeViewCurrent();
    // The points and splats of the reconstruction go with its camera; outside the main window
    // only the camera is known here.
    auto *window = dynamic_cast<MainInterface *>(getParent());
    if (window && window->getMachine())
        window->getMachine()->moveReconstruction(camera, a.fit.transform);
    else
        moveViews(*camera, a.fit.transform);
    // Views without a reference have no error: grey markers.
    std::vector<float> errors(views.views.size(), NAN);
    for (size_t i = 0; i < a.match.pairs.size(); ++i)
        errors[static_cast<size_t>(a.match.pairs[i].second)] = static_cast<float>(a.positionErrors[i]);
    camera->setMarkerValues(errors, "position error");
    if (!(camera->getOptions() & GLCamera::CAMERA_ORIGINS))
        camera->toggleOption(GLCamera::CAMERA_ORIGINS);
    update();
    redraw();
    return true;
}
