-- QVM songs are the qvm file type.
vim.cmd([[autocmd BufRead,BufNewFile *.qvm setfiletype qvm]])
