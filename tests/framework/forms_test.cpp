// Forms: streaming a form with its controls, closing, the create and destroy events.
#include <gtest/gtest.h>

#include "win_test_support.h"

namespace {

class TTestForm : public TForm {
  KV_CLASS(TTestForm, TForm)
public:
  explicit TTestForm(TComponent* AOwner) : TForm(AOwner) {
    RegisterMethod(L"BlockClick", this, &TTestForm::BlockClick);
    RegisterMethod(L"FormCreate", this, &TTestForm::FormCreate);
  }
  void BlockClick(TObject* Sender) { clicks.push_back(Sender); }
  void FormCreate(TObject*) { ++creates; }
  std::vector<TObject*> clicks;
  int creates = 0;
};

const TClassInfo& TTestForm::StaticClass() {
  static const TClassInfo info = TClassBuilder<TTestForm>(L"TTestForm");
  return info;
}

TEST(FormStreaming, AFormWithControlsReadsBackWithStructureReferencesAndEvents) {
  RegisterWinTestClasses();
  RegisterClass(TTestForm::StaticClass());
  auto* source = new TTestForm(Application);
  source->SetName(L"MainForm");
  source->SetCaption(L"Player \u3042");
  source->SetClientSize(240, 160);
  source->OnCreate = source->MethodByName<TNotifyEvent>(L"FormCreate");
  auto* menu = new TPopupMenu(source);
  menu->SetName(L"Menu1");
  menu->Items()->Add(L"Play");
  menu->Items()->Add(L"Stop");
  auto* panel = new TPanelish(source);
  panel->SetName(L"Panel1");
  panel->SetAlign(alClient);
  panel->SetColor(clNavy);
  panel->SetParent(source);
  auto* block = new TBlock(source);
  block->SetName(L"Block1");
  block->SetBounds(5, 6, 70, 80);
  block->SetAnchors({akLeft, akTop, akRight});
  block->SetPopupMenu(menu);
  block->OnClick = source->MethodByName<TNotifyEvent>(L"BlockClick");
  block->SetParent(panel);
  TMemoryStream data;
  source->SaveToStream(data);
  Free(source);

  TTestForm* form = nullptr;
  Application->CreateForm(form);
  data.SetPosition(0);
  form->LoadFromStream(data);
  EXPECT_EQ(form->Name(), L"MainForm");
  EXPECT_EQ(form->Caption(), L"Player \u3042");
  EXPECT_EQ(form->ClientWidth(), 240);
  auto* panel2 = dynamic_cast<TPanelish*>(form->FindComponent(L"Panel1"));
  auto* block2 = dynamic_cast<TBlock*>(form->FindComponent(L"Block1"));
  auto* menu2 = dynamic_cast<TPopupMenu*>(form->FindComponent(L"Menu1"));
  ASSERT_TRUE(panel2 && block2 && menu2);
  EXPECT_EQ(panel2->Parent(), form);
  EXPECT_EQ(block2->Parent(), panel2);
  EXPECT_EQ(panel2->Color(), clNavy);
  EXPECT_FALSE(panel2->ParentColor());
  EXPECT_TRUE(block2->ParentColor());
  EXPECT_EQ(block2->Color(), clNavy);  // follows its parent, not stored
  EXPECT_EQ(panel2->BoundsRect(), Rect(0, 0, 240, 160));  // alClient took effect
  EXPECT_EQ(block2->BoundsRect(), Rect(5, 6, 75, 86));
  EXPECT_EQ(block2->Anchors(), (TAnchors{akLeft, akTop, akRight}));
  EXPECT_EQ(block2->PopupMenu(), menu2);
  EXPECT_EQ(menu2->Items()->Count(), 2);
  ASSERT_TRUE(block2->OnClick.Assigned());
  block2->OnClick(block2);
  EXPECT_EQ(form->clicks, (std::vector<TObject*>{block2}));
  EXPECT_TRUE(form->OnCreate.Assigned());

  // A freed menu no longer dangles in the control.
  Free(menu2);
  EXPECT_EQ(block2->PopupMenu(), nullptr);
  Free(form);
}

TEST(Forms, CreateCloseReleaseAndDestroyEvents) {
  RegisterWinTestClasses();
  int destroyed = 0;
  TTestForm* main = nullptr;
  Application->CreateForm(main);
  ASSERT_EQ(Application->MainForm(), main);
  TTestForm* other = nullptr;
  Application->CreateForm(other);
  EXPECT_NE(Application->MainForm(), other);
  other->OnDestroy = TNotifyEvent([&](TObject* s) {
    EXPECT_EQ(s, other);
    ++destroyed;
  });
  other->Show();
  EXPECT_TRUE(IsWindowVisible(other->Handle()));

  bool allowed = false;
  other->OnCloseQuery = TCloseQueryEvent([&](TObject*, bool& canClose) { canClose = allowed; });
  other->Close();
  EXPECT_TRUE(other->Visible());
  allowed = true;
  other->OnClose = TCloseEvent([](TObject*, TCloseAction& action) { action = caFree; });
  SendMessageW(other->Handle(), WM_CLOSE, 0, 0);  // the system's close asks the same way
  EXPECT_EQ(destroyed, 0);                          // freed later, not inside the message
  Pump();
  EXPECT_EQ(destroyed, 1);
  EXPECT_EQ(Application->ComponentCount(), 1);

  EXPECT_FALSE(Application->Terminated());
  Free(main);
  EXPECT_EQ(Application->MainForm(), nullptr);
}

}  // namespace
