-- Starts qvblsp for every qvm buffer and gives the play commands:
-- :QvbPlay, :QvbPlayFrom, :QvbPlaySelection (on a range) and :QvbStop.
if vim.g.loaded_qvblsp then return end
vim.g.loaded_qvblsp = true

local qvblsp = require('qvblsp')
vim.api.nvim_create_user_command('QvbPlay', function() qvblsp.play() end, { desc = 'Play the song' })
vim.api.nvim_create_user_command('QvbPlayFrom', function() qvblsp.play_from() end,
  { desc = 'Play the song from the note under the cursor' })
vim.api.nvim_create_user_command('QvbPlaySelection', function(args) qvblsp.play_selection(args.line1, args.line2) end,
  { desc = 'Play the selected notes again and again', range = true })
vim.api.nvim_create_user_command('QvbStop', function() qvblsp.stop() end, { desc = 'Stop the sound' })
vim.cmd([[
  augroup qvblsp
    autocmd!
    autocmd FileType qvm lua require('qvblsp').attach(tonumber(vim.fn.expand('<abuf>')))
  augroup END
]])
