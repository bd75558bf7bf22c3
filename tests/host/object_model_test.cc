#include <gtest/gtest.h>

#include "HostFixture.h"
#include "ui/Window.h"

namespace hosttest {
namespace {

std::string FrameTitle() {
  char buf[256] = {};
  GetWindowText(host::GetFrameWindow(), buf, sizeof buf);
  return buf;
}

LONG SlideCount(_Presentation* p) {
  com::CComPtr<Slides> slides;
  if (FAILED(p->get_Slides(slides.Out()))) return -1;
  LONG n = -1;
  slides->get_Count(&n);
  return n;
}

std::string SlideTitle(_Presentation* p, LONG i) {
  com::CComPtr<Slides> slides;
  com::CComPtr<_Slide> slide;
  com::CComPtr<Shapes> shapes;
  com::CComPtr<Shape> title;
  com::CComPtr<TextFrame> frame;
  com::CComPtr<TextRange> range;
  com::CComBSTR text;
  if (FAILED(p->get_Slides(slides.Out())) ||
      FAILED(slides->Item(com::CComVariant(i), slide.Out())) ||
      FAILED(slide->get_Shapes(shapes.Out())) || FAILED(shapes->get_Title(title.Out())) ||
      FAILED(title->get_TextFrame(frame.Out())) || FAILED(frame->get_TextRange(range.Out())) ||
      FAILED(range->get_Text(text.Out())))
    return "<none>";
  return text.ToUtf8();
}

TEST_F(HostTest, FrameTitleFollowsTheActivePresentation) {
  com::CComBSTR caption;
  ASSERT_EQ(m_app->get_Caption(caption.Out()), S_OK);
  EXPECT_EQ(FindWindowA("PP9FrameClass", caption.ToUtf8().c_str()), host::GetFrameWindow());
  com::CComPtr<_Presentation> none;
  EXPECT_EQ(m_app->get_ActivePresentation(none.Out()), E_FAIL);
  EXPECT_FALSE(none);

  auto talk = Open(MakeFile("Talk.ppt", 2));
  EXPECT_EQ(FrameTitle(), caption.ToUtf8() + " - [Talk.ppt]");
  auto hidden = Open(MakeFile("Hidden.ppt", 1), msoFalse);  // no window: not active
  EXPECT_EQ(FrameTitle(), caption.ToUtf8() + " - [Talk.ppt]");
  com::CComPtr<Presentations> all;
  ASSERT_EQ(m_app->get_Presentations(all.Out()), S_OK);
  com::CComPtr<_Presentation> added;
  ASSERT_EQ(all->Add(msoTrue, added.Out()), S_OK);
  com::CComBSTR addedName;
  added->get_Name(addedName.Out());
  EXPECT_EQ(FrameTitle(), caption.ToUtf8() + " - [" + addedName.ToUtf8() + "]");
  ASSERT_EQ(added->Close(), S_OK);
  EXPECT_EQ(FrameTitle(), caption.ToUtf8() + " - [Talk.ppt]");
  ASSERT_EQ(talk->Close(), S_OK);
  EXPECT_EQ(FrameTitle(), caption.ToUtf8());
  EXPECT_EQ(FindWindowA("PP9FrameClass", caption.ToUtf8().c_str()), host::GetFrameWindow());
}

TEST_F(HostTest, OpenReportsMissingAndCorruptFiles) {
  com::CComPtr<Presentations> all;
  ASSERT_EQ(m_app->get_Presentations(all.Out()), S_OK);
  std::string corrupt = MakeFile("Bad.ppt", 3);
  std::string text;
  ASSERT_EQ(platform::ReadWholeFile(corrupt, &text), 0u);
  text.resize(text.size() - 10);
  ASSERT_EQ(platform::WriteWholeFile(corrupt, text.data(), text.size()), 0u);
  struct Case {
    std::string path;
    HRESULT hr;
  } cases[] = {{Path("Missing.ppt"), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)},
               {corrupt, HRESULT_FROM_WIN32(ERROR_FILE_CORRUPT)},
               {"", HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)}};
  for (const Case& c : cases) {
    com::CComPtr<_Presentation> p;
    com::CComBSTR name(c.path);
    EXPECT_EQ(all->Open(name, msoFalse, msoFalse, msoTrue, p.Out()), c.hr) << c.path;
    EXPECT_FALSE(p);
    LONG n = 0;
    com::CComPtr<Slides> slides;
    auto good = Open(MakeFile("Good.ppt", 1), msoFalse);
    ASSERT_EQ(good->get_Slides(slides.Out()), S_OK);
    EXPECT_EQ(slides->InsertFromFile(name, 0, 1, 1, &n), c.hr);
    EXPECT_EQ(n, 0);
    good->Close();
  }
  LONG count = -1;
  all->get_Count(&count);
  EXPECT_EQ(count, 0);
}

// What the automation object does before a show: the master as a copy
// emptied of slides, and each slide alone in a file of its own.
TEST_F(HostTest, SavesMasterAndSingleSlideFilesThatReadBack) {
  auto active = Open(MakeFile("Talk.ppt", 3, "Ocean"));
  com::CComPtr<Presentations> all;
  ASSERT_EQ(m_app->get_Presentations(all.Out()), S_OK);
  com::CComBSTR master(Path("_OV_Mast.ppt"));
  ASSERT_EQ(active->SaveCopyAs(master, ppSaveAsPresentation, msoFalse), S_OK);

  com::CComPtr<_Presentation> temp;
  ASSERT_EQ(all->Open(master, msoFalse, msoFalse, msoFalse, temp.Out()), S_OK);
  com::CComPtr<Slides> tempSlides;
  ASSERT_EQ(temp->get_Slides(tempSlides.Out()), S_OK);
  for (int i = 0; i < 3; ++i) {
    com::CComPtr<_Slide> first;
    ASSERT_EQ(tempSlides->Item(com::CComVariant(1), first.Out()), S_OK);
    ASSERT_EQ(first->Delete(), S_OK);
    EXPECT_EQ(first->Delete(), E_FAIL);
  }
  EXPECT_EQ(SlideCount(temp.get()), 0);
  ASSERT_EQ(temp->Save(), S_OK);
  ASSERT_EQ(temp->Close(), S_OK);
  EXPECT_EQ(temp->Save(), E_FAIL);
  EXPECT_EQ(SlideCount(temp.get()), -1);

  com::CComPtr<_Presentation> single;
  ASSERT_EQ(all->Add(msoFalse, single.Out()), S_OK);
  EXPECT_EQ(single->Save(), E_FAIL) << "no file yet";
  com::CComPtr<Slides> singleSlides, activeSlides;
  ASSERT_EQ(single->get_Slides(singleSlides.Out()), S_OK);
  ASSERT_EQ(active->get_Slides(activeSlides.Out()), S_OK);
  EXPECT_EQ(singleSlides->Paste(-1), E_FAIL) << "nothing copied yet";
  for (LONG n = 1; n <= 3; ++n) {
    com::CComPtr<_Slide> slide;
    ASSERT_EQ(activeSlides->Item(com::CComVariant(n), slide.Out()), S_OK);
    ASSERT_EQ(slide->Copy(), S_OK);
    ASSERT_EQ(singleSlides->Paste(-1), S_OK);
    com::CComBSTR file(Path("_OV_sld" + std::to_string(n) + ".ppt"));
    ASSERT_EQ(single->SaveAs(file, ppSaveAsPresentation, msoFalse), S_OK);
    com::CComPtr<_Slide> first;
    ASSERT_EQ(singleSlides->Item(com::CComVariant(1), first.Out()), S_OK);
    ASSERT_EQ(first->Delete(), S_OK);
  }
  com::CComBSTR name;
  single->get_Name(name.Out());
  EXPECT_EQ(name.ToUtf8(), "_OV_sld3.ppt");
  single->Close();

  host::PresentationContent m, s2;
  ASSERT_EQ(host::ReadPresentationFile(Path("_OV_Mast.ppt"), &m), 0u);
  EXPECT_EQ(m.design, "Ocean");
  EXPECT_TRUE(m.slides.empty());
  ASSERT_EQ(host::ReadPresentationFile(Path("_OV_sld2.ppt"), &s2), 0u);
  ASSERT_EQ(s2.slides.size(), 1u);
  EXPECT_EQ(s2.slides[0].title, "Slide 2");
  EXPECT_EQ(s2.slides[0].body, "Body 2");
  EXPECT_EQ(s2.slides[0].nSteps, 2);
}

// What the audience does: the master opened untitled with a window, a
// placeholder slide, then received slides appended from their files.
TEST_F(HostTest, BuildsAnAudiencePresentationFromSlideFiles) {
  std::string master = MakeFile("_OV_Mast.ppt", 0, "Ocean");
  std::string slide5 = MakeFile("_OV_sld5.ppt", 1);
  com::CComPtr<Presentations> all;
  ASSERT_EQ(m_app->get_Presentations(all.Out()), S_OK);
  com::CComPtr<_Presentation> p;
  com::CComBSTR name(master);
  ASSERT_EQ(all->Open(name, msoFalse, msoTrue, msoTrue, p.Out()), S_OK);
  EXPECT_EQ(p->Save(), E_FAIL) << "untitled";
  com::CComBSTR shown;
  p->get_Name(shown.Out());
  EXPECT_NE(shown.ToUtf8(), "_OV_Mast.ppt");

  com::CComPtr<Slides> slides;
  ASSERT_EQ(p->get_Slides(slides.Out()), S_OK);
  com::CComPtr<_Slide> placeholder;
  EXPECT_EQ(slides->Add(2, ppLayoutText, placeholder.Out()), DISP_E_BADINDEX);
  ASSERT_EQ(slides->Add(1, ppLayoutText, placeholder.Out()), S_OK);
  com::CComPtr<Shapes> shapes;
  ASSERT_EQ(placeholder->get_Shapes(shapes.Out()), S_OK);
  MsoTriState has = msoFalse;
  ASSERT_EQ(shapes->get_HasTitle(&has), S_OK);
  EXPECT_EQ(has, msoTrue);
  com::CComPtr<Shape> title;
  EXPECT_EQ(shapes->AddTitle(title.Out()), E_FAIL);
  ASSERT_EQ(shapes->get_Title(title.Out()), S_OK);
  com::CComPtr<TextFrame> frame;
  com::CComPtr<TextRange> range;
  ASSERT_EQ(title->get_TextFrame(frame.Out()), S_OK);
  ASSERT_EQ(frame->get_TextRange(range.Out()), S_OK);
  ASSERT_EQ(range->put_Text(com::CComBSTR("Will synch on next slide...")), S_OK);

  LONG inserted = 0;
  com::CComBSTR file(slide5);
  EXPECT_EQ(slides->InsertFromFile(file, 1, 2, 2, &inserted), DISP_E_BADINDEX);
  EXPECT_EQ(slides->InsertFromFile(file, 2, 1, 1, &inserted), DISP_E_BADINDEX);
  ASSERT_EQ(slides->InsertFromFile(file, 1, 1, 1, &inserted), S_OK);
  EXPECT_EQ(inserted, 1);
  ASSERT_EQ(slides->InsertFromFile(file, 0, 1, -1, nullptr), S_OK);
  EXPECT_EQ(SlideCount(p.get()), 3);
  EXPECT_EQ(SlideTitle(p.get(), 1), "Slide 1");
  EXPECT_EQ(SlideTitle(p.get(), 2), "Will synch on next slide...");
  EXPECT_EQ(SlideTitle(p.get(), 3), "Slide 1");

  com::CComPtr<_Slide> bad;
  for (LONG i : {0, 4, -1})
    EXPECT_EQ(slides->Item(com::CComVariant(i), bad.Out()), DISP_E_BADINDEX);
  EXPECT_EQ(slides->Item(com::CComVariant("x"), bad.Out()), DISP_E_TYPEMISMATCH);
  EXPECT_FALSE(bad);

  // The slide's parent is its presentation.
  com::CComPtr<IDispatch> parent;
  ASSERT_EQ(placeholder->get_Parent(parent.Out()), S_OK);
  com::CComPtr<_Presentation> back;
  ASSERT_EQ(back.QueryFrom(parent.get()), S_OK);
  com::CComBSTR backName;
  back->get_Name(backName.Out());
  EXPECT_EQ(backName.ToUtf8(), shown.ToUtf8());
}

TEST_F(HostTest, TagsCompareWithoutCaseAndTravelWithTheFile) {
  auto p = Open(MakeFile("Talk.ppt", 1));
  com::CComPtr<Tags> tags;
  ASSERT_EQ(p->get_Tags(tags.Out()), S_OK);
  ASSERT_EQ(tags->Add(com::CComBSTR("ReriRudo"), com::CComBSTR("1")), S_OK);
  ASSERT_EQ(tags->Add(com::CComBSTR("rerirudo"), com::CComBSTR("2")), S_OK);
  com::CComBSTR v;
  ASSERT_EQ(tags->Item(com::CComBSTR("RERIRUDO"), v.Out()), S_OK);
  EXPECT_EQ(v.ToUtf8(), "2");
  ASSERT_EQ(tags->Item(com::CComBSTR("absent"), v.Out()), S_OK);
  EXPECT_EQ(v.ToUtf8(), "");
  LONG n = 0;
  tags->get_Count(&n);
  EXPECT_EQ(n, 2);  // "Author" from the file, and ours
  ASSERT_EQ(p->SaveCopyAs(com::CComBSTR(Path("Copy.ppt")), ppSaveAsPresentation, msoFalse), S_OK);
  host::PresentationContent c;
  ASSERT_EQ(host::ReadPresentationFile(Path("Copy.ppt"), &c), 0u);
  EXPECT_EQ(c.tags.back(), (std::pair<std::string, std::string>{"ReriRudo", "2"}));
  ASSERT_EQ(p->Close(), S_OK);
  EXPECT_EQ(tags->Add(com::CComBSTR("x"), com::CComBSTR("y")), E_FAIL);
}

}  // namespace
}  // namespace hosttest
