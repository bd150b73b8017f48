page{name="page1",image="stages/book/page1"}
page{name="page2",image="stages/book/page2"}
page{name="page3",image="stages/book/page3"}
