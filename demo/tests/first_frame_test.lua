-- The demo's first frame against the picture beside this file. After a change that is meant to
-- change it, write the picture again with: kestrune --test --update demo
local t = kestrune.test

t.test("the first frame", function()
  t.step()
  t.expectScreenshot("first-frame")
end)
