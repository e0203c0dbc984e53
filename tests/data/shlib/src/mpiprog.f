      program mpiprog
      include 'mpif.h'
      integer ierr
      call mpi_init(ierr)
      call mpi_recv(ierr, 0, mpi_integer, 0, 0, mpi_comm_world,
     &              mpi_status_ignore, ierr)
      call mpi_finalize(ierr)
      end
