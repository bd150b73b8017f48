if x then
  -- note
  y = "a" .. [[b]]
end
