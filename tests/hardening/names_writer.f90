! One call through whatever name it is given: a dump of 4096 doubles, all of
! them VALUE, at PATH (a new dataset, or one overwritten in place); without a
! path, the file is only opened and closed. Prints "returned" once the call has.
! Usage: names_writer FILE [PATH VALUE]
program names_writer
  use videz5
  implicit none
  character(len=256) :: file, path, value_text
  double precision :: field(64, 64), value
  integer :: fid

  call get_command_argument(1, file)
  call get_command_argument(2, path)
  if (len_trim(path) == 0) then
    call ftoc_open_file_id(trim(file), len_trim(file), fid)
    call ftoc_close_file_id(fid)
  else
    call get_command_argument(3, value_text)
    read(value_text, *) value
    field = value
    call videz5_dump(trim(file), trim(path), field)
  end if
  print '(a)', 'returned'
end program names_writer
