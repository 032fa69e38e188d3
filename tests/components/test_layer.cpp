// The layered window: what it hands to UpdateLayeredWindow frame by frame
// (on both back-ends), and when it makes its form layered.
#include <gtest/gtest.h>

#include "components_support.h"

using namespace comptest;

// Every case ends with nothing of the players left (BackEndCase).
using FlashLayer = nstest::BackEndCase;
class FlashLayerOn : public BothBackEnds {};
INSTANTIATE_TEST_SUITE_P(BothBackEnds, FlashLayerOn, ::testing::ValuesIn(kBothBackEnds), BackEndName);

namespace {

bool Layered(HWND wnd) { return (GetWindowLongPtrW(wnd, GWL_EXSTYLE) & WS_EX_LAYERED) != 0; }

// A shown form at (60, 50) holding a layer.
struct LayerForm {
    Owned<TForm> form;
    TkvFlashLayer* layer;
    explicit LayerForm(TFormBorderStyle border = bsNone)
        : form(NewForm(100, 100, border, 60, 50)), layer(new TkvFlashLayer(form.get()))
    {
        layer->SetParent(form.get());
        form->Show();
        Pump();
    }
};

TEST_P(FlashLayerOn, EveryFrameGoesToItsFormWithTheMoviesAlpha)
{
    LayerRecorder recorder;
    LayerForm f;
    Use(f.layer);
    HWND wnd = f.form->Handle();
    EXPECT_TRUE(Layered(wnd));
    EXPECT_EQ(f.layer->BoundsRect(), Rect(0, 0, 100, 100)) << "it fills its form";
    ASSERT_FALSE(recorder.Calls().empty()) << "the buffer is pushed when the window is made";

    f.layer->LoadMovie(WriteFile(L"layer-half.swf", RectMovie(0xFF0000, 128)));
    Steps(1);
    const LayerCall& call = recorder.Calls().back();
    EXPECT_EQ(call.Window, wnd);
    EXPECT_TRUE(call.Destination.x == 60 && call.Destination.y == 50) << "the form stays where it is";
    EXPECT_TRUE(call.Size.cx == 100 && call.Size.cy == 100);
    EXPECT_EQ(call.Blend.SourceConstantAlpha, 255);
    EXPECT_EQ(call.Blend.AlphaFormat, AC_SRC_ALPHA);
    ASSERT_EQ(call.Picture.size(), 100u * 100u);
    EXPECT_EQ(call.At(50, 50), 0x80800000u) << "premultiplied, half covered";
    EXPECT_EQ(call.At(5, 5), 0u) << "the desktop shows through";

    // MasterAlpha is kept in 0..255 and applies from the next frame drawn.
    f.layer->SetMasterAlpha(300);
    EXPECT_EQ(f.layer->GetMasterAlpha(), 255);
    f.layer->SetMasterAlpha(-1);
    EXPECT_EQ(f.layer->GetMasterAlpha(), 0);
    recorder.Calls().clear();
    f.layer->SetMasterAlpha(100);
    EXPECT_TRUE(recorder.Calls().empty());
    f.layer->Driver->ForceUpdate();
    ASSERT_FALSE(recorder.Calls().empty());
    EXPECT_EQ(recorder.Calls().back().Blend.SourceConstantAlpha, 100);

    // A new back-end (the other one) is transparent at once (no colour change
    // needed), and its frames come here too, at the form's new size.
    const TkvPlugin other = activeX() ? kvNetscape : kvActiveX;
    f.layer->SetPlugin(other);
    EXPECT_STREQ(f.layer->Driver->DriverClass().ClassName(), axtest::DriverClassOf(other));
    EXPECT_EQ(f.layer->Driver->Background, 0u);
    f.form->SetClientSize(80, 60);
    f.layer->LoadMovie(WriteFile(L"layer-opaque.swf", RectMovie(0x00FF00)));
    axtest::StepOn(other, 1);
    const LayerCall& resized = recorder.Calls().back();
    EXPECT_TRUE(resized.Size.cx == 80 && resized.Size.cy == 60);
    EXPECT_EQ(resized.At(40, 30), 0xFF00FF00u);
}

TEST_P(FlashLayerOn, AFormWithABorderKeepsItsPlaceAndSizeAndShowsTheMovieWhereTheLayerIs)
{
    LayerRecorder recorder;
    LayerForm f(bsSizeable);
    Use(f.layer);
    HWND wnd = f.form->Handle();
    RECT before, after;
    GetWindowRect(wnd, &before);
    f.layer->LoadMovie(WriteFile(L"layer-border.swf", RectMovie(0x00FF00)));
    for (int i = 0; i < 3; ++i) {
        Steps(1);
        f.layer->Driver->ForceUpdate();
    }
    GetWindowRect(wnd, &after);
    EXPECT_TRUE(EqualRect(&before, &after)) << "neither moved nor shrunk by its own updates";
    const LayerCall& call = recorder.Calls().back();
    EXPECT_EQ(call.Size.cx, before.right - before.left);
    EXPECT_EQ(call.Size.cy, before.bottom - before.top);
    POINT origin{0, 0};
    ClientToScreen(wnd, &origin);
    const int ox = origin.x - before.left, oy = origin.y - before.top;
    ASSERT_GT(oy, 0) << "a caption above the client area";
    EXPECT_EQ(call.At(ox + 50, oy + 50), 0xFF00FF00u) << "the movie where the layer is";
    EXPECT_EQ(call.At(1, 1), 0u) << "the border shows nothing";
    // Nothing anywhere round the layer: above, below and on both sides.
    int shown = 0;
    for (int y = 0; y < call.Size.cy; ++y)
        for (int x = 0; x < call.Size.cx; ++x)
            if ((x < ox || x >= ox + 100 || y < oy || y >= oy + 100) && call.At(x, y) != 0 && shown++ < 3)
                ADD_FAILURE() << "border pixel (" << x << ", " << y << ") is " << std::hex << call.At(x, y);
}

TEST_F(FlashLayer, OnlyALayerThatCanUpdateItsFormMakesItLayeredAndItGivesItBack)
{
    LayerRecorder recorder;
    Owned<TForm> designed = NewForm(100, 100);
    auto* layer = new TkvFlashLayer(designed.get());
    layer->SetParent(designed.get());
    designed->SetDesigning(true);
    designed->Show();

    Owned<TForm> withPanel = NewForm(100, 100);
    auto* panel = new TCustomControl(withPanel.get());
    panel->SetParent(withPanel.get());
    (new TkvFlashLayer(withPanel.get()))->SetParent(panel);
    withPanel->Show();

    // Owned by no windowed control it would never update the form, which
    // would then stay invisible.
    Owned<TForm> unowned = NewForm(100, 100);
    Owned<TkvFlashLayer> orphan(new TkvFlashLayer(nullptr));
    orphan->SetParent(unowned.get());
    unowned->Show();
    Pump();
    for (TForm* form : {designed.get(), withPanel.get(), unowned.get()})
        EXPECT_FALSE(Layered(form->Handle()));
    layer->Driver->ForceUpdate();
    orphan->UpdateLayer();
    EXPECT_TRUE(recorder.Calls().empty());
    orphan->SetParent(nullptr);

    // A form that outlives its layer paints itself again.
    LayerForm f;
    ASSERT_TRUE(Layered(f.form->Handle()));
    Free(f.layer);
    EXPECT_FALSE(Layered(f.form->Handle()));

    // So does a form whose layer moves elsewhere.
    LayerForm g;
    ASSERT_TRUE(Layered(g.form->Handle()));
    auto* box = new TCustomControl(g.form.get());
    box->SetParent(g.form.get());
    g.layer->SetParent(box);
    Pump();
    EXPECT_FALSE(Layered(g.form->Handle()));
}

TEST_P(FlashLayerOn, WithoutUpdateLayeredWindowTheFormStaysOrdinaryAndTheLayerPaintsTheMovie)
{
    const TUpdateLayeredWindowProc saved = UpdateLayeredWindowProc;
    UpdateLayeredWindowProc = nullptr;
    {
        LayerForm f;
        Use(f.layer);
        EXPECT_FALSE(Layered(f.form->Handle()));
        f.layer->LoadMovie(WriteFile(L"layer-plain.swf", RectMovie(0x0000FF)));
        Steps(1);
        EXPECT_EQ(WindowPixel(f.layer->Handle(), 50, 50), RGB(0, 0, 0xFF));
    }
    UpdateLayeredWindowProc = saved;
}

}  // namespace
