! The bad inputs that end the process (Usage: bad_inputs_abort MODE), each run
! in a child process by bad_inputs_check.py, which expects SIGABRT.
program bad_inputs_abort
  use videz5
  implicit none
  character(len=32) :: mode
  double precision :: v(2)
  v = 1
  call get_command_argument(1, mode)
  print '(a)', 'before'
  select case (trim(mode))
  case ('dump_code_minus1')
    call ftoc_h5dump_data('never.h5', 8, 'v', 1, v, 2, 0, 0, -1, 0)
  case ('dump_code_huge')
    call ftoc_h5dump_data('never.h5', 8, 'v', 1, v, 2, 0, 0, huge(1), 0)
  case ('read_code_minus1')
    call ftoc_h5read_data('never.h5', 8, 'v', 1, v, -1, 0)
  case ('read_empty_name')
    call ftoc_h5read_data('', 0, 'v', 1, v, VIDEZ5_DOUBLE, 0)
  end select
  print '(a)', 'not reached'
end program bad_inputs_abort
