-- Run with: kestrune --test demo
-- Each test file starts on a fresh demo; the tests in it run in order, each on the scene as the
-- one before left it.
local t = kestrune.test

t.test("a click lights the button and says so in the caption", function()
  t.step() -- the first frame: nodes are hit where a frame drew them
  local circle = root.getNode("circle", true)
  local before = { t.pixel(100, 90) }
  t.click(100, 90)
  t.expectEqual(circle.getPicture(), "lit", "the pointer is still over it")
  t.expectEqual(t.caption(), "print 4 args (STR released) (STR circle) (NUM 100) (NUM 90)")
  t.step()
  local after = { t.pixel(100, 90) }
  t.expect(before[1] ~= after[1] or before[2] ~= after[2] or before[3] ~= after[3],
           "the lit picture is drawn")
end)

t.test("leaving the button puts it back up", function()
  t.move(400, 20)
  t.expectEqual(root.getNode("circle", true).getPicture(), "up")
end)

t.test("the play button opens a panel that fades in", function()
  t.click(668, 128)
  t.expect(root.getNode("panel") ~= nil, "a panel is made")
  t.step(30) -- half a second at the demo's 16 ms ticks
  t.expectEqual(kestrune.getOpacity(root.getNode("panel")), 1)
end)
